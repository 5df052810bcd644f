#include "Batch.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Explain.h"
#include "Record.h"

namespace ostrel::explain {

namespace {

using Clock = std::chrono::steady_clock;

struct Result {
  std::string record;
  std::string message;  // for standard error, when the path could not be read
  bool timecode = false;
};

Result explainItem(const Walk::Item& item, Format format) {
  Explanation explanation;
  if (item.error != 0) {
    explanation.file = item.path;
    explanation.error = std::error_code(item.error, std::generic_category()).message();
  } else {
    explanation = explainFile(item.path);
  }
  Result result{.timecode = explanation.answer.has_value()};
  if (explanation.error) result.message = "ostrel-explain: " + item.path + ": " + *explanation.error + "\n";
  switch (format) {
    case Format::Text: {
      std::ostringstream out;
      printText(explanation, out);
      result.record = std::move(out).str();
      break;
    }
    case Format::Json:
      result.record = jsonLine(explanation);
      break;
    case Format::Csv:
      result.record = csvRow(explanation);
      break;
  }
  return result;
}

// All of `text` to a descriptor. A non-blocking one that is full is waited
// on. False when it cannot be written; a reader that went away ends the
// process by SIGPIPE, as it does any Unix tool in a pipeline.
bool writeAll(int descriptor, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(descriptor, text.data(), text.size());
    if (written > 0) {
      text.remove_prefix(static_cast<std::size_t>(written));
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd output{descriptor, POLLOUT, 0};
      ::poll(&output, 1, -1);
    } else if (written == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

// Slots for the files between the one the writer waits for and the last one
// the walk gave: the walk waits while they are all taken, so memory never
// follows the number of files.
class Window {
 public:
  explicit Window(std::size_t size) : slots_(size) {}

  // The walk's next file; waits for room. False once the run is stopped.
  bool put(Walk::Item item) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return stopped_ || produced_ - written_ < slots_.size(); });
    if (stopped_) return false;
    slots_[produced_ % slots_.size()].item = std::move(item);
    ++produced_;
    work_.notify_one();
    return true;
  }
  void walked() {
    std::lock_guard lock(mutex_);
    walked_ = true;
    work_.notify_all();
    results_.notify_all();
  }

  // A worker's next file and its place; nothing once the walk is done and
  // every file taken.
  std::optional<std::pair<std::uint64_t, Walk::Item>> take() {
    std::unique_lock lock(mutex_);
    work_.wait(lock, [&] { return stopped_ || claimed_ < produced_ || walked_; });
    if (stopped_ || claimed_ == produced_) return std::nullopt;
    const std::uint64_t place = claimed_++;
    return std::pair{place, std::move(slots_[place % slots_.size()].item)};
  }
  void done(std::uint64_t place, Result result) {
    std::lock_guard lock(mutex_);
    Slot& slot = slots_[place % slots_.size()];
    slot.result = std::move(result);
    slot.ready = true;
    if (place == written_) results_.notify_one();
  }

  enum class Next { Ready, NotYet, End };
  // The writer's next result in walk order, waiting at most `wait` for it.
  Next next(std::chrono::milliseconds wait, Result& out) {
    std::unique_lock lock(mutex_);
    const auto settled = [&] { return stopped_ || nextReady() || (walked_ && written_ == produced_); };
    results_.wait_for(lock, wait, settled);
    if (stopped_) return Next::End;
    if (nextReady()) {
      Slot& slot = slots_[written_ % slots_.size()];
      out = std::move(slot.result);
      slot.ready = false;
      ++written_;
      room_.notify_one();
      return Next::Ready;
    }
    return walked_ && written_ == produced_ ? Next::End : Next::NotYet;
  }

  void stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    room_.notify_all();
    work_.notify_all();
    results_.notify_all();
  }

 private:
  struct Slot {
    Walk::Item item;
    Result result;
    bool ready = false;
  };

  bool nextReady() const { return written_ < produced_ && slots_[written_ % slots_.size()].ready; }

  std::mutex mutex_;
  std::condition_variable room_, work_, results_;
  std::vector<Slot> slots_;
  std::uint64_t produced_ = 0, claimed_ = 0, written_ = 0;
  bool walked_ = false;
  bool stopped_ = false;
};

// Interrupts (Ctrl-C, a hang-up, a polite kill) wait in a thread of their
// own, so that the writer stops between whole records instead of inside one.
// Signals the caller's parent chose to ignore stay ignored.
class Interrupts {
 public:
  explicit Interrupts(Window& window) : window_(window) {
    sigemptyset(&signals_);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction current {};
      if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) sigaddset(&signals_, signal);
    }
    sigaddset(&signals_, kWake);
    // Blocked here, and so in every thread made after.
    ::pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
    waiter_ = std::thread([this] {
      int signal = 0;
      if (::sigwait(&signals_, &signal) != 0 || signal == kWake) return;
      caught_ = signal;
      window_.stop();
    });
  }
  Interrupts(const Interrupts&) = delete;
  Interrupts& operator=(const Interrupts&) = delete;
  ~Interrupts() {
    if (caught_ == 0) ::pthread_kill(waiter_.native_handle(), kWake);
    waiter_.join();
  }

  int caught() const { return caught_; }

  // Ends the process as the signal would have, so that a shell sees it.
  [[noreturn]] void endAsTheSignalWould() const {
    ::signal(caught_, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, caught_);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(caught_);
    std::_Exit(128 + caught_);
  }

 private:
  // Wakes the waiter at the end of a run.
  static constexpr int kWake = SIGUSR1;

  Window& window_;
  sigset_t signals_;
  std::atomic<int> caught_ = 0;
  std::thread waiter_;
};

// One line on standard error, redrawn in place: files done, files a second,
// how many had a timecode. Shown only on a terminal, and only once a run has
// lasted a second.
class Progress {
 public:
  explicit Progress(bool enabled) : enabled_(enabled), started_(Clock::now()) {}

  void update(std::uint64_t files, std::uint64_t timecodes) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (now - started_ < std::chrono::seconds(1) || now - drawn_ < std::chrono::milliseconds(250)) return;
    drawn_ = now;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    char line[128];
    const int length = std::snprintf(line, sizeof line, "\r%llu files, %.0f files/s, %llu with a timecode\033[K",
                                     static_cast<unsigned long long>(files), static_cast<double>(files) / seconds,
                                     static_cast<unsigned long long>(timecodes));
    if (length > 0) writeAll(STDERR_FILENO, {line, static_cast<std::size_t>(length)});
    shown_ = true;
  }
  // Erases the line, before anything else is written.
  void clear() {
    if (!shown_) return;
    writeAll(STDERR_FILENO, "\r\033[K");
    shown_ = false;
  }

 private:
  bool enabled_;
  bool shown_ = false;
  Clock::time_point started_;
  Clock::time_point drawn_;
};

// Standard output, written a few whole records at a time. On the terminal
// that shows the progress line, the line is erased first.
class Output {
 public:
  explicit Output(Progress& progress) : progress_(progress), terminal_(::isatty(STDOUT_FILENO) == 1) {}

  bool add(std::string_view text) {
    buffer_ += text;
    return buffer_.size() < kFlushAt || flush();
  }
  bool flush() {
    if (buffer_.empty()) return true;
    if (terminal_) progress_.clear();
    const bool ok = writeAll(STDOUT_FILENO, buffer_);
    buffer_.clear();
    return ok;
  }

 private:
  static constexpr std::size_t kFlushAt = 64 * 1024;
  Progress& progress_;
  bool terminal_;
  std::string buffer_;
};

}  // namespace

int runBatch(Walk& walk, const BatchOptions& options) {
  const unsigned jobs = std::max(1u, options.jobs);
  Window window(std::max<std::size_t>(64, 8 * std::size_t{jobs}));
  Interrupts interrupts(window);

  std::thread walker([&] {
    try {
      while (std::optional<Walk::Item> item = walk.next()) {
        if (!window.put(std::move(*item))) break;
      }
    } catch (const std::exception&) {  // out of memory listing a folder: the run ends there
    }
    window.walked();
  });
  std::vector<std::thread> workers;
  for (unsigned i = 0; i < jobs; ++i) {
    workers.emplace_back([&] {
      while (std::optional<std::pair<std::uint64_t, Walk::Item>> work = window.take()) {
        Result result;
        try {
          result = explainItem(work->second, options.format);
        } catch (const std::exception& error) {
          result.message = "ostrel-explain: " + work->second.path + ": " + error.what() + "\n";
        }
        window.done(work->first, std::move(result));
      }
    });
  }

  Progress progress(options.progress);
  Output output(progress);
  bool failed = false, writable = true;
  std::uint64_t files = 0, timecodes = 0;
  if (options.format == Format::Csv) writable = output.add(csvHeader());
  for (Result result; writable;) {
    const Window::Next next = window.next(std::chrono::milliseconds(200), result);
    if (next == Window::Next::End) break;
    if (next == Window::Next::NotYet) {
      writable = output.flush();
      progress.update(files, timecodes);
      continue;
    }
    if (!result.message.empty()) {
      failed = true;
      writable = output.flush();
      progress.clear();
      writeAll(STDERR_FILENO, result.message);
    }
    if (options.format == Format::Text && files > 0) writable = writable && output.add("\n");
    writable = writable && output.add(result.record);
    ++files;
    if (result.timecode) ++timecodes;
    progress.update(files, timecodes);
  }
  if (writable) writable = output.flush();
  progress.clear();
  if (interrupts.caught() != 0) interrupts.endAsTheSignalWould();
  window.stop();
  walker.join();
  for (std::thread& worker : workers) worker.join();
  if (!writable) {
    writeAll(STDERR_FILENO, "ostrel-explain: cannot write the output\n");
    return 1;
  }
  return failed ? 1 : 0;
}

}  // namespace ostrel::explain
