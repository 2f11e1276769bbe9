target_sources(vellisto_engine PRIVATE SongFileName.cpp RecordingMailbox.cpp RecordingTexts.cpp RecordingThread.cpp SideSummary.cpp RecordingControl.cpp MeterLevels.cpp LevelMonitor.cpp)
