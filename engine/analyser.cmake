target_sources(vellisto_engine PRIVATE BiquadFilter.cpp RecSettings.cpp SignalAnalyzer.cpp SignalAnalyzerParams.cpp)
# Under a sanitizer the tests spend most of their time in the analyser's per-sample loops, so
# those are optimised there too (the same bits: contraction stays off everywhere); every other
# line keeps the sanitizer's unoptimised checks.
if(VELLISTO_SANITIZE)
    set_source_files_properties(BiquadFilter.cpp SignalAnalyzer.cpp PROPERTIES COMPILE_OPTIONS -O2)
endif()
