vellisto_gtest(analyser_tests
    SOURCES BiquadFilterTest.cpp RecSettingsTest.cpp SignalAnalyzerTest.cpp SignalAnalyzerReferenceTest.cpp
    LIBS vellisto_engine)
