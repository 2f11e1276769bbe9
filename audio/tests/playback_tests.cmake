# Playback: the ring between feeder and output callback, and the test backend.
vellisto_gtest(playback_tests SOURCES PlaybackTest.cpp LIBS vellisto_playback_testing)
