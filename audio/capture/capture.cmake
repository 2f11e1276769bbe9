target_sources(vellisto_audio PRIVATE capture/WaveIn.cpp)
