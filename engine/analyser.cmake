target_sources(vellisto_engine PRIVATE BiquadFilter.cpp RecSettings.cpp SignalAnalyzer.cpp SignalAnalyzerParams.cpp)
