# A keep of a generated 60-minute side timed against cat of the same bytes:
#   cmake --build <build> --target keep_bench_run
add_executable(keep_bench keep_bench.cpp)
target_link_libraries(keep_bench PRIVATE vellisto_take)
add_custom_target(keep_bench_run
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/keep_bench.sh $<TARGET_FILE:keep_bench>
    DEPENDS keep_bench
    USES_TERMINAL
    VERBATIM)
