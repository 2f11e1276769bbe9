target_sources(vellisto_audio PRIVATE RiffFile.cpp WaveFileWriter.cpp QueuedFileOutput.cpp)
