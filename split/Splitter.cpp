#include "split/Splitter.h"

#include <stdlib.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

#include "split/RunPaths.h"
#include "split/SplitModes.h"

namespace fs = std::filesystem;

CSplitter::CSplitter(const SplitOptions& options, std::ostream& out, std::ostream& err,
                     bool showProgress, const std::atomic<int>* interrupt)
    : m_run(options, out, err, showProgress, interrupt) {}

int CSplitter::Run() {
    // Bad parameters are a usage error, found before any input is touched. Every analyser of
    // the run is a copy of this one.
    int rc = m_run.SetParameters(m_run.m_params);
    if (rc >= 0) return rc;
    rc = m_run.OpenInput();
    if (rc >= 0) return rc;
    if (m_run.m_options.bProbe) return ProbeSide(m_run);
    if ((rc = ChooseAutoLevels(m_run)) >= 0) return rc;
    if (m_run.m_options.bFlac && CheckFlacFormat(m_run.m_info.format) != FlacRefusal::None) {
        return m_run.Fail("--format flac: " + m_run.m_strName + ": " +
                          FlacRefusalText(CheckFlacFormat(m_run.m_info.format)));
    }
    if (!m_run.ChooseOutput()) return kExitFailed;
    if (!m_run.m_options.bList && !m_run.CheckDestination()) return kExitFailed;
    m_run.m_strAlbum = m_run.m_options.strAlbum;
    m_run.m_strArtist = m_run.m_options.strArtist;
    if (!m_run.m_options.strCuts.empty()) return SplitAtCuts(m_run);
    if (!m_run.m_options.strNames.empty()) {
        // A track list tells how many songs the side holds.
        if (m_run.m_info.bStream) {
            return m_run.Fail("--names without --cuts finds as many songs as titles, reading " +
                              m_run.m_strName + " twice; give a file, not a stream");
        }
        if (!m_run.ReadTitles(&m_run.m_titles)) return kExitFailed;
        if (m_run.m_options.nSongs > 0 &&
            static_cast<size_t>(m_run.m_options.nSongs) != m_run.m_titles.size()) {
            return m_run.Fail("--songs " + std::to_string(m_run.m_options.nSongs) + " and the " +
                                  std::to_string(m_run.m_titles.size()) + " titles of " +
                                  m_run.m_options.strNames + " disagree",
                              kExitUsage);
        }
        m_run.m_options.nSongs = static_cast<int>(m_run.m_titles.size());
        std::vector<std::string> paths;
        if (!m_run.TitledPaths(&paths)) return kExitFailed;
        if (!m_run.m_options.bList && !m_run.CheckTargets(paths)) return kExitFailed;
    }
    return m_run.m_options.nSongs > 0 ? SplitBySongCount(m_run) : RecordSide(m_run);
}

namespace {

// The worse of two exit codes: an interruption, then usage, then failure, then success.
int Worse(int a, int b) {
    auto rank = [](int code) { return code >= kExitSignal ? 3 : code; };
    return rank(b) > rank(a) ? b : a;
}

}  // namespace

int RunSplitCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                    bool showProgress, const std::atomic<int>* interrupt) {
    SplitOptions options;
    int rc = ParseSplitOptions(argc, argv, &options, out, err);
    if (rc >= 0) return rc;
    const size_t count = options.inputs.size();
    if (count == 1) {
        if ((rc = CheckRunPaths(options, err)) >= 0) return rc;
        options.strInput = options.inputs[0];
        CSplitter splitter(options, out, err, showProgress && !options.bQuiet, interrupt);
        return splitter.Run();
    }

    auto usage = [&err](const std::string& text) {
        err << "vellisto-split: " << text << "\nRun with --help for more information.\n";
        return kExitUsage;
    };
    std::error_code ec;
    if (!options.strOutput.empty() && options.strOutput.back() != '/' &&
        !fs::is_directory(options.strOutput, ec)) {
        return usage("with several inputs, -o names a folder for their song files");
    }
    if (!options.strLabels.empty() || !options.strCue.empty()) {
        return usage("--labels and --cue take one input");
    }
    if (std::count(options.inputs.begin(), options.inputs.end(), "-") > 0) {
        return usage("standard input (\"-\") can only be split alone");
    }
    if ((rc = CheckRunPaths(options, err)) >= 0) return rc;

    // Each input as if alone, several at once; their output in the order given.
    struct Result {
        std::ostringstream out, err;
        int nCode = 0;
        size_t nSongs = 0;
        bool bDone = false;
    };
    std::vector<Result> results(count);
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<size_t> nextInput{0};
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t jobs = std::min<size_t>(count, options.nJobs > 0 ? options.nJobs : cores);
    auto work = [&] {
        for (size_t i; (i = nextInput.fetch_add(1)) < count;) {
            SplitOptions one = options;
            one.strInput = options.inputs[i];
            CSplitter splitter(one, results[i].out, results[i].err, false, interrupt);
            const int code = splitter.Run();
            std::lock_guard<std::mutex> guard(mutex);
            results[i].nCode = code;
            results[i].nSongs = splitter.GetSongs().size();
            results[i].bDone = true;
            finished.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (size_t k = 0; k < jobs; ++k) threads.emplace_back(work);
    int worst = kExitOk;
    size_t songs = 0;
    std::vector<std::string> failed;
    for (size_t i = 0; i < count; ++i) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            finished.wait(lock, [&] { return results[i].bDone; });
        }
        err << results[i].err.str();
        out << results[i].out.str();
        err.flush();
        out.flush();
        worst = Worse(worst, results[i].nCode);
        songs += results[i].nSongs;
        if (results[i].nCode != kExitOk) failed.push_back(options.inputs[i]);
    }
    for (std::thread& t : threads) t.join();
    if (!options.bQuiet) {
        out << count << " inputs, " << songs << (songs == 1 ? " song" : " songs") << " in all";
        if (!failed.empty()) {
            out << "; " << failed.size() << " failed:";
            for (const std::string& name : failed) out << " " << name;
        }
        out << "\n";
    }
    return worst;
}
