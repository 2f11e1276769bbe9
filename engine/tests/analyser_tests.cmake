vellisto_gtest(analyser_tests
    SOURCES BiquadFilterTest.cpp SignalAnalyzerTest.cpp SignalAnalyzerReferenceTest.cpp
    LIBS vellisto_engine)
