# vellisto-split on generated 10- and 60-minute sides, beside cat, ffmpeg silencedetect and sox:
#   cmake --build <build> --target split_bench
add_custom_target(split_bench
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/split_bench.sh $<TARGET_FILE:vellisto-split>
    DEPENDS vellisto-split
    USES_TERMINAL
    VERBATIM)
