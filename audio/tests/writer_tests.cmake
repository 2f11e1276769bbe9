# The writer's tests read its files back with libsndfile (through the shared test support) and
# sox/ffprobe (run when installed).
vellisto_gtest(writer_tests SOURCES WaveFileWriterTest.cpp LIBS vellisto_audio)
vellisto_gtest(writer_crash_tests SOURCES WaveFileCrashTest.cpp LIBS vellisto_audio)
# The FLAC writer's files are decoded by flac and listed by metaflac (run when installed).
vellisto_gtest(flac_writer_tests SOURCES FlacFileWriterTest.cpp LIBS vellisto_audio)
vellisto_gtest(queued_output_tests SOURCES QueuedFileOutputTest.cpp LIBS vellisto_audio LABELS threads)
vellisto_gtest(song_files_tests SOURCES SongFilesTest.cpp LIBS vellisto_audio)
# The WAV reader on RIFF, RF64 and Wave64 files and streams made byte by byte.
vellisto_gtest(reader_tests SOURCES WaveFileReaderTest.cpp LIBS vellisto_audio)
