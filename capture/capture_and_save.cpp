#include "capture/capture_and_save.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "assets/assets.h"
#include "capture/disk_guard.h"
#include "capture/file_naming.h"
#include "capture/frame_compare.h"
#include "capture/loss_report.h"
#include "capture/retention.h"
#include "platform/capture_files.h"
#include "platform/clock.h"
#include "platform/desktop_session.h"
#include "platform/files.h"
#include "platform/gui_thread.h"
#include "platform/image_encoding.h"
#include "platform/screen_lock.h"
#include "platform/sound.h"
#include "settings/settings_store.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::capture {

namespace {

constexpr int kJpegQuality = 75;
constexpr int kWorkers = 2;

// The folder as the main window shows it. Until start-up has set the label (it shows its
// placeholder while the logo splash plays) or when no main window exists, the label names no
// folder; a capture then goes to the folder start-up is about to show instead of being lost or
// landing at a path relative to the current directory.
std::string captureFolder() {
    std::string folder = ui::controlText(ui::kMainWindow, "透明标签1");
    if (!platform::isAbsolutePath(folder))
        folder = platform::defaultCaptureFolder();
    return platform::withTrailingSeparator(std::move(folder));
}

CaptureOutcome saved(std::string path) {
    return {true, std::move(path), {}};
}

CaptureOutcome lost(std::string why) {
    return {false, {}, std::move(why)};
}

CaptureOutcome skipped(std::string why) {
    return {false, {}, std::move(why), true};
}

// Everything fixed when the capture was asked for; a worker only adds the outcome. A scheduled
// capture that may be skipped as unchanged gets its name and number only once its picture has
// arrived and was compared (`named`).
struct Capture {
    std::uint64_t sequence = 0;
    CaptureKind kind = CaptureKind::Manual;
    std::string folder;
    std::string subfolder;  // the day folder inside `folder`, or empty
    std::string stem;
    ImageEngine engine = ImageEngine::Bmp;
    std::int64_t number = 0;
    int soundChoice = 0;
    bool dayFolders = false;
    CaptureDone done;           // GUI thread only
    bool pictureAsked = false;  // GUI thread only: the snapshot has not answered yet
    bool named = false;         // GUI thread only: stem, day folder and number are fixed
    // For the comparison, as the screen was when the capture was asked for (GUI thread only).
    bool compare = false;
    std::vector<platform::ScreenRect> ownWindows;
    std::optional<platform::ScreenRect> area;
    const platform::Bytes* keptPicture = nullptr;  // the frame it saved, as the last one
    // Under the pipeline's mutex.
    bool finished = false;
    CaptureOutcome outcome;
    std::uint64_t counterTicket = 0;
    bool counterStored = true;
};

// Runs on a worker: the picture becomes a complete file under its final name, or nothing.
// `beforeName` runs once the data is written, before the file gets its name.
CaptureOutcome writeCapture(const Capture& capture, const platform::Bytes& image,
                            const std::function<void()>& beforeName) {
    platform::PartFile file;
    if (!file.create(capture.folder, static_cast<unsigned long>(capture.sequence),
                     capture.subfolder))
        return lost(file.error());
    std::string extension = ".bmp";
    if (capture.engine == ImageEngine::Jpg || capture.engine == ImageEngine::Png) {
        const bool jpg = capture.engine == ImageEngine::Jpg;
        extension = jpg ? ".jpg" : ".png";
        const int result =
            jpg ? platform::writeJpegFromBmpImage(image, file.descriptor(), kJpegQuality, true)
                : platform::writePngFromBmpImage(image, file.descriptor());
        if (result == platform::kConvertWriteFailed) {
            file.noteFailure(errno);
            return lost(file.error());
        }
        if (result != platform::kConvertOk)
            return lost("the picture could not be encoded");
    } else if (!file.write(image.data(), image.size())) {
        return lost(file.error());
    }
    beforeName();
    std::string path = file.publish(capture.stem, extension);
    if (path.empty())
        return lost(file.error());
    return saved(std::move(path));
}

void playShutter(int choice) {
    if (choice < 1 || choice > 3)
        return;
    const std::string name = "shutter" + std::to_string(choice) + ".wav";
    platform::playWavData(assets::find(name), false);
}

// The running number, stored by a thread of its own: a store write flushes to disk and can take
// longer than the whole capture, so neither the GUI thread nor the file waits for it unless it
// has to. A file gets its name only once its number is stored, so a program killed at any
// moment never hands a saved file's number out again. Writes coalesce: only the highest
// number asked for is written.
class CounterStore {
public:
    ~CounterStore() { stop(); }

    // Asks for `number` to be stored; the ticket tells waitStored which request to wait for.
    std::uint64_t request(std::int64_t number) {
        std::lock_guard lock(mutex_);
        number_ = number;
        const std::uint64_t ticket = ++requested_;
        if (!thread_.joinable()) {
            stopping_ = false;
            thread_ = std::thread([this] { work(); });
        }
        wanted_.notify_one();
        return ticket;
    }

    // Waits until the number of request `ticket`, or of a later one, was written; false when
    // that write failed.
    bool waitStored(std::uint64_t ticket) {
        std::unique_lock lock(mutex_);
        tried_.wait(lock, [&] { return written_ >= ticket || !thread_.joinable(); });
        return written_ >= ticket && lastOk_;
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wanted_.notify_all();
        if (thread_.joinable())
            thread_.join();
        tried_.notify_all();
    }

private:
    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wanted_.wait(lock, [&] { return stopping_ || requested_ > written_; });
            if (requested_ <= written_)
                return;  // stopping, and everything asked for was written
            const std::uint64_t ticket = requested_;
            const std::int64_t number = number_;
            lock.unlock();
            const bool ok = settings::writeNumber(settings::Option::Counter, number);
            lock.lock();
            written_ = ticket;
            lastOk_ = ok;
            tried_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wanted_, tried_;
    std::int64_t number_ = 0;
    std::uint64_t requested_ = 0;
    std::uint64_t written_ = 0;
    bool lastOk_ = true;
    bool stopping_ = false;
    std::thread thread_;
};

// Captures in the order they were asked for, and the workers that write their files. At most
// kMaxPicturesInFlight pictures wait for or go through a worker; a picture beyond that makes
// the GUI thread wait until one is written (the picture is already taken by then, so the
// moment of the capture is kept; only the window pauses).
class Pipeline {
public:
    static Pipeline& instance() {
        static Pipeline pipeline;
        return pipeline;
    }

    ~Pipeline() {
        stopWorkers();
        counter_.stop();
    }

    void start(const std::shared_ptr<Capture>& capture) {
        order_.push_back(capture);
        tidy(capture->folder);
    }

    // GUI thread: fixes the capture's name, day folder and number (after which the counter
    // advances), and asks for the number to be stored.
    void name(Capture& capture) {
        CaptureSettings& settings = captureSettings();
        const platform::DateTime clock = platform::now();
        capture.stem = makeFileStem(capture.kind, settings, clock);
        capture.number = settings.captureCounter;
        if (capture.dayFolders) {
            capture.subfolder = dayFolderName(clock);
            tidy(capture.folder, capture.subfolder);
        }
        if (settings.captureCounter < std::numeric_limits<std::int64_t>::max())
            ++settings.captureCounter;
        capture.counterTicket = counter_.request(capture.number);
        capture.named = true;
    }

    // GUI thread: the snapshot answered.
    void pictureArrived(const std::shared_ptr<Capture>& capture, platform::Bytes image,
                        const std::string& failure) {
        if (!capture->pictureAsked)
            return;  // told as lost already (the program was ending)
        capture->pictureAsked = false;
        auto picture = std::make_shared<const platform::Bytes>(std::move(image));
        if (!capture->named) {
            // Compared before anything is encoded; a frame equal to its schedule's last one
            // ends here, with no number used.
            if (capture->compare && !picture->empty() && !capture->folder.empty()) {
                UnchangedFrames::Frame frame{picture, {}};
                if (capture->area) {
                    if (const auto pixels = bmpPixels(*picture)) {
                        frame.ignored = placesInPicture(capture->ownWindows, *capture->area,
                                                        pixels->width, pixels->height);
                    }
                }
                if (!frames_.keep(scheduleOf(capture->kind), std::move(frame),
                                  UnchangedFrames::Clock::now())) {
                    finish(*capture, skipped("the picture did not change"));
                    return;
                }
                capture->keptPicture = picture.get();
            }
            name(*capture);
        }
        if (capture->folder.empty() || picture->empty()) {
            // Nothing to save: no file at all rather than an empty one under a capture's name.
            CaptureOutcome outcome =
                capture->folder.empty()
                    ? lost("no capture folder")
                    : lost(failure.empty() ? "no picture" : "no picture: " + failure);
            std::unique_lock lock(mutex_);
            enqueueLocked({[this, capture, outcome] {
                               capture->counterStored = counter_.waitStored(capture->counterTicket);
                               finish(*capture, outcome);
                           },
                           false});
        } else {
            std::unique_lock lock(mutex_);
            slotFree_.wait(lock, [&] { return inFlight_ < kMaxPicturesInFlight; });
            ++inFlight_;
            enqueueLocked({[this, capture, picture = std::move(picture)] {
                               bool stored = true;
                               bool named = false;
                               CaptureOutcome outcome = writeCapture(*capture, *picture, [&] {
                                   stored = counter_.waitStored(capture->counterTicket);
                                   named = true;
                               });
                               if (!named)
                                   stored = counter_.waitStored(capture->counterTicket);
                               capture->counterStored = stored;
                               finish(*capture, std::move(outcome));
                           },
                           true});
        }
    }

    // GUI thread: clears the leftovers of killed runs from `folder` (or its day folder
    // `subfolder`), once per folder and run.
    void tidy(const std::string& folder, const std::string& subfolder = {}) {
        if (folder.empty() || !tidied_.insert(folder + '\0' + subfolder).second)
            return;
        std::lock_guard lock(mutex_);
        enqueueLocked(
            {[folder, subfolder] { platform::removeLeftoverPartFiles(folder, subfolder); }, false});
    }

    // GUI thread: tells every finished capture at the head of the order.
    void deliverFinished() {
        while (!order_.empty()) {
            std::shared_ptr<Capture> capture = order_.front();
            CaptureOutcome outcome;
            {
                std::lock_guard lock(mutex_);
                if (!capture->finished)
                    return;
                outcome = capture->outcome;
            }
            order_.pop_front();
            tell(*capture, outcome);
        }
    }

    bool picturesPending() const {
        return std::any_of(order_.begin(), order_.end(),
                           [](const auto& capture) { return capture->pictureAsked; });
    }

    void finishAll() {
        {
            std::unique_lock lock(mutex_);
            idle_.wait(lock, [&] { return jobs_.empty() && busy_ == 0; });
        }
        stopWorkers();
        // A picture that has not arrived by now never will be saved by this run.
        for (const auto& capture : order_) {
            if (capture->pictureAsked) {
                capture->pictureAsked = false;
                // A scheduled frame with no number yet is simply not taken.
                if (!capture->named) {
                    finish(*capture, skipped("the program ended before the picture arrived"));
                    continue;
                }
                capture->counterStored = counter_.waitStored(capture->counterTicket);
                finish(*capture, lost("the program ended before the picture arrived"));
            }
        }
        counter_.stop();
        deliverFinished();
    }

private:
    static constexpr std::size_t kMaxPicturesInFlight = 4;

    static int scheduleOf(CaptureKind kind) { return kind == CaptureKind::Timed ? 0 : 1; }

    // Any thread.
    void finish(Capture& capture, CaptureOutcome outcome) {
        {
            std::lock_guard lock(mutex_);
            capture.outcome = std::move(outcome);
            capture.finished = true;
        }
        platform::postToGuiThread([] { Pipeline::instance().deliverFinished(); });
    }

    void tell(const Capture& capture, const CaptureOutcome& outcome) {
        if (outcome.skipped) {
            if (capture.done)
                capture.done(outcome);
            return;
        }
        // A frame kept as its schedule's last one that never became a file: the next frame is
        // compared with nothing, and saved.
        if (!outcome.saved && capture.keptPicture != nullptr)
            frames_.forget(scheduleOf(capture.kind), capture.keptPicture);
        if (capture.counterStored)
            reportCounterStored();
        else
            reportCounterNotStored(capture.number);
        if (outcome.saved) {
            reportCaptureSaved();
            noteSavedCapture(capture.folder, outcome.path);
            playShutter(capture.soundChoice);
        } else {
            reportCaptureLost(capture.folder, capture.number, outcome.error);
        }
        if (capture.done)
            capture.done(outcome);
    }

    struct Job {
        std::function<void()> run;
        bool holdsPicture = false;
    };

    void enqueueLocked(Job job) {
        jobs_.push_back(std::move(job));
        if (workers_.empty()) {
            stopping_ = false;
            for (int i = 0; i < kWorkers; ++i)
                workers_.emplace_back([this] { work(); });
        }
        workAvailable_.notify_one();
    }

    void stopWorkers() {
        std::vector<std::thread> workers;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            workers.swap(workers_);
        }
        workAvailable_.notify_all();
        for (auto& worker : workers)
            worker.join();
    }

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            workAvailable_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;  // stopping, and nothing left
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            ++busy_;
            lock.unlock();
            job.run();
            job.run = nullptr;  // the picture is freed before its slot is
            lock.lock();
            --busy_;
            if (job.holdsPicture) {
                --inFlight_;
                slotFree_.notify_all();
            }
            idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable workAvailable_, slotFree_, idle_;
    std::deque<Job> jobs_;
    std::size_t inFlight_ = 0;
    int busy_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
    CounterStore counter_;
    std::deque<std::shared_ptr<Capture>> order_;  // GUI thread only
    std::set<std::string> tidied_;                // GUI thread only
    UnchangedFrames frames_;                      // GUI thread only
};

std::uint64_t nextSequence() {
    static std::uint64_t sequence = 0;
    return ++sequence;
}

// Why a scheduled capture is not taken now, or nothing when it is.
std::optional<std::string> scheduledPause(const CaptureSettings& settings,
                                          const std::string& folder) {
    if (settings.pauseWhenLocked && platform::screenLocked())
        return "the screen is locked";
    if (!folder.empty() && !scheduledCapturesHaveRoom(folder))
        return "the disk is almost full";
    return std::nullopt;
}

}  // namespace

void captureAndSave(platform::WindowHandle window, CaptureKind kind, CaptureDone done) {
    CaptureSettings& settings = captureSettings();
    const bool scheduled = kind != CaptureKind::Manual;
    std::string folder = captureFolder();
    if (scheduled) {
        if (auto why = scheduledPause(settings, folder)) {
            if (done) {
                platform::postToGuiThread([done = std::move(done),
                                           outcome = skipped(std::move(*why))] { done(outcome); });
            }
            return;
        }
    }
    auto capture = std::make_shared<Capture>();
    capture->sequence = nextSequence();
    capture->kind = kind;
    capture->folder = std::move(folder);
    capture->engine = settings.imageEngine;
    capture->soundChoice = settings.soundChoice;
    capture->dayFolders = settings.dayFolders;
    capture->done = std::move(done);
    capture->pictureAsked = true;
    Pipeline& pipeline = Pipeline::instance();
    pipeline.start(capture);
    if (scheduled && settings.skipUnchanged) {
        // Named once the picture is compared; where the program's own windows are now is
        // what the picture will show of them.
        capture->compare = true;
        capture->ownWindows = ui::shownWindowRects();
        capture->area = platform::desktopSession().snapshotArea(window);
    } else {
        // The number belongs to this capture from now on, whatever answers first.
        pipeline.name(*capture);
    }
    platform::desktopSession().requestSnapshot(
        window, settings.outputWidth, settings.outputHeight,
        [capture](platform::Bytes image, std::string failure) {
            Pipeline::instance().pictureArrived(capture, std::move(image), failure);
        });
}

void finishPendingCaptures() {
    Pipeline::instance().finishAll();
}

void awaitPendingPictures(int milliseconds) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (Pipeline::instance().picturesPending() && std::chrono::steady_clock::now() < giveUp)
        platform::processEventsFor(20);
}

void tidyCaptureFolder(const std::string& folder) {
    Pipeline::instance().tidy(folder);
}

}  // namespace lumora::capture
