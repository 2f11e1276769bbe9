target_sources(vellisto_engine PRIVATE SongFileName.cpp RecordingThread.cpp RecordingControl.cpp)
