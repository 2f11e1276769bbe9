add_executable(writer_bench writer_bench.cpp)
target_link_libraries(writer_bench PRIVATE vellisto_audio benchmark::benchmark)
target_compile_definitions(writer_bench PRIVATE VELLISTO_BENCH_DEFAULT_DIR="${CMAKE_BINARY_DIR}")
