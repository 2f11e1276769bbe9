# The WAV reader and writer, and the FLAC writer through libsndfile (kept private to this library).
find_package(PkgConfig REQUIRED)
pkg_check_modules(AUDIO_SNDFILE REQUIRED IMPORTED_TARGET sndfile)
target_sources(vellisto_audio PRIVATE RiffFile.cpp WaveFileWriter.cpp FlacFileWriter.cpp
    QueuedFileOutput.cpp WaveFileReader.cpp SongEncoder.cpp SongFiles.cpp)
target_link_libraries(vellisto_audio PRIVATE PkgConfig::AUDIO_SNDFILE)
