add_executable(record_start_bench record_start_bench.cpp)
target_link_libraries(record_start_bench PRIVATE vellisto_engine vellisto_capture_testing
    benchmark::benchmark)
target_compile_definitions(record_start_bench PRIVATE
    VELLISTO_BENCH_DEFAULT_DIR="${CMAKE_BINARY_DIR}")
