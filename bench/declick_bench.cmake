# The click repairer on a minute of real music with planted clicks and crackle, beside ffmpeg's
# adeclick:
#   cmake --build <build> --target declick_bench_run
add_executable(declick_bench declick_bench.cpp)
target_link_libraries(declick_bench PRIVATE vellisto_take)
add_custom_target(declick_bench_run
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/declick_bench.sh $<TARGET_FILE:declick_bench>
    DEPENDS declick_bench
    USES_TERMINAL
    VERBATIM)
