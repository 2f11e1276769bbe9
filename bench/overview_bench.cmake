# The overview of a generated 60-minute side, warm and cold, time and peak memory:
#   cmake --build <build> --target overview_bench_run
add_executable(overview_bench overview_bench.cpp)
target_link_libraries(overview_bench PRIVATE vellisto_take)
add_custom_target(overview_bench_run
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/overview_bench.sh $<TARGET_FILE:overview_bench>
    DEPENDS overview_bench
    USES_TERMINAL
    VERBATIM)
