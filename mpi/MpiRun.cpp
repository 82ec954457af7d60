#include "MpiRun.h"

#include <mpi.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <new>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "BatchRun.h"
#include "Calculation.h"
#include "GridImports.h"
#include "NumberText.h"
#include "PointPipeline.h"

namespace globelayers {
namespace {

// Messages between rank 0 and the other ranks (MPI tags).
enum TMessageTag : int {
  kTagStart = 1,  // 0 -> r: the run record and the threads per rank; set up and ask for points
  kTagStatus,     // 0 -> r: the run is over, with this exit status; stop and answer kTagDone
  kTagRequest,    // r -> 0: send me up to n more points
  kTagChunk,      // 0 -> r: points, each with its index in the point file
  kTagLine,       // r -> 0: the result line of one point
  kTagFailed,     // r -> 0: the run cannot go on on this rank, with the message for the user
  kTagStopped,    // r -> 0: this rank caught SIGINT or SIGTERM
  kTagDone,       // r -> 0: the last message of a rank
};

// How long a waiting rank sleeps between looks at its mailbox. Open MPI's
// blocking receive spins a core, which the evaluating threads of the node
// need.
constexpr auto kPollPause = std::chrono::microseconds(200);

// Points a rank asks for per evaluating thread: enough to keep its threads
// busy while the next chunk is on its way, few enough that the ordered
// writing on rank 0 keeps little in memory.
constexpr long kChunkPointsPerThread = 4;

// ---- message bodies: little-endian bytes of this machine's types (every
// rank runs the same executable) ----

class TWireWriter {
 public:
  void Int(std::int64_t value) { Raw(&value, sizeof value); }
  void Real(double value) { Raw(&value, sizeof value); }
  void Text(const std::string& text) {
    Int(static_cast<std::int64_t>(text.size()));
    bytes_.append(text);
  }
  const std::string& bytes() const { return bytes_; }

 private:
  void Raw(const void* data, std::size_t size) { bytes_.append(static_cast<const char*>(data), size); }
  std::string bytes_;
};

class TWireReader {
 public:
  explicit TWireReader(const std::string& bytes) : bytes_(bytes) {}
  std::int64_t Int() {
    std::int64_t value = 0;
    Raw(&value, sizeof value);
    return value;
  }
  double Real() {
    double value = 0;
    Raw(&value, sizeof value);
    return value;
  }
  std::string Text() {
    const std::int64_t size = Int();
    if (size < 0 || static_cast<std::uint64_t>(size) > bytes_.size() - at_) Short();
    std::string text = bytes_.substr(at_, static_cast<std::size_t>(size));
    at_ += static_cast<std::size_t>(size);
    return text;
  }
  bool AtEnd() const { return at_ == bytes_.size(); }

 private:
  void Raw(void* data, std::size_t size) {
    if (bytes_.size() - at_ < size) Short();
    std::memcpy(data, bytes_.data() + at_, size);
    at_ += size;
  }
  [[noreturn]] static void Short() { throw std::runtime_error("A message between the MPI ranks was cut short."); }
  const std::string& bytes_;
  std::size_t at_ = 0;
};

void WriteRecord(TWireWriter& w, const TRunParameters& p) {
  w.Text(p.dataFile);
  w.Int(static_cast<std::int64_t>(p.layerRows.size()));
  for (const std::string& row : p.layerRows) w.Text(row);
  w.Int(p.rowCount);
  w.Real(p.gravityConstant);
  w.Real(p.psiFromDeg);
  w.Real(p.psiToDeg);
  w.Real(p.earthRadius);
  w.Text(p.appendText);
  w.Real(p.azimuthFromDeg);
  w.Real(p.azimuthToDeg);
  w.Real(p.increment);
  w.Int(p.priority);
  w.Int(p.outputUnit);
  w.Real(p.segmentSize);
  w.Int(p.sumOnly ? 1 : 0);
  w.Int(static_cast<std::int64_t>(p.zones.size()));
  for (const TZone& zone : p.zones) {
    w.Real(zone.psiFromDeg);
    w.Real(zone.psiToDeg);
    w.Real(zone.segmentSizeArcSec);
    w.Int(zone.blockMeans ? 1 : 0);
  }
  w.Text(p.zonePreset);
}

TRunParameters ReadRecord(TWireReader& r) {
  TRunParameters p;
  p.dataFile = r.Text();
  const std::int64_t rows = r.Int();
  for (std::int64_t k = 0; k < rows; ++k) p.layerRows.push_back(r.Text());
  p.rowCount = static_cast<int>(r.Int());
  p.gravityConstant = r.Real();
  p.psiFromDeg = r.Real();
  p.psiToDeg = r.Real();
  p.earthRadius = r.Real();
  p.appendText = r.Text();
  p.azimuthFromDeg = r.Real();
  p.azimuthToDeg = r.Real();
  p.increment = r.Real();
  p.priority = static_cast<int>(r.Int());
  p.outputUnit = static_cast<int>(r.Int());
  p.segmentSize = r.Real();
  p.sumOnly = r.Int() != 0;
  const std::int64_t zones = r.Int();
  for (std::int64_t k = 0; k < zones; ++k) {
    TZone zone;
    zone.psiFromDeg = r.Real();
    zone.psiToDeg = r.Real();
    zone.segmentSizeArcSec = r.Real();
    zone.blockMeans = r.Int() != 0;
    p.zones.push_back(zone);
  }
  p.zonePreset = r.Text();
  return p;
}

// ---- sending and receiving ----

struct TMessage {
  int source = 0;
  int tag = 0;
  std::string body;
};

void Send(int rank, int tag, const std::string& body) {
  MPI_Send(body.data(), static_cast<int>(body.size()), MPI_BYTE, rank, tag, MPI_COMM_WORLD);
}

void SendInt(int rank, int tag, std::int64_t value) {
  TWireWriter w;
  w.Int(value);
  Send(rank, tag, w.bytes());
}

// The next message from `source` (or MPI_ANY_SOURCE) with tag `tag` (or
// MPI_ANY_TAG), if one is there.
std::optional<TMessage> Poll(int source, int tag = MPI_ANY_TAG) {
  int there = 0;
  MPI_Status status;
  MPI_Iprobe(source, tag, MPI_COMM_WORLD, &there, &status);
  if (!there) return std::nullopt;
  int size = 0;
  MPI_Get_count(&status, MPI_BYTE, &size);
  TMessage message{.source = status.MPI_SOURCE, .tag = status.MPI_TAG, .body = std::string(std::size_t(size), '\0')};
  MPI_Recv(message.body.data(), size, MPI_BYTE, status.MPI_SOURCE, status.MPI_TAG, MPI_COMM_WORLD,
           MPI_STATUS_IGNORE);
  return message;
}

TMessage WaitFor(int source) {
  for (;;) {
    if (std::optional<TMessage> message = Poll(source)) return std::move(*message);
    std::this_thread::sleep_for(kPollPause);
  }
}

std::int64_t IntOf(const TMessage& message) {
  TWireReader r(message.body);
  return r.Int();
}

int ResolvedThreads(int threads) {
  return threads > 0 ? threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// ---- rank 0 ----

// The points of a run on rank 0: its own worker threads take them from the
// front of the queue, and so do the other ranks, a chunk at a time when
// they ask. The lines come back to one map; the run's loop takes them in
// point-file order. Only the calling thread talks to the other ranks.
class TRankZeroLines : public IPointLines {
 public:
  // The other ranks were started before the grids were loaded (StartOtherRanks).
  // The calling thread serves the other ranks, so rank 0 evaluates on
  // threads of its own even when it has one.
  TRankZeroLines(const TRunContext& ctx, int workers, IRunProgress& progress)
      : localWorkers_(std::max(1, workers)), local_(ctx, localWorkers_, progress, true, kPollPause) {
    MPI_Comm_size(MPI_COMM_WORLD, &ranks_);
    asked_.assign(std::size_t(ranks_), 0);
    largestAsk_.assign(std::size_t(ranks_), kChunkPointsPerThread * localWorkers_ * 2);
  }

  long window() const override {
    long window = kChunkPointsPerThread * localWorkers_;
    for (int rank = 1; rank < ranks_; ++rank) window += largestAsk_[std::size_t(rank)];
    return window;
  }

  void Submit(long index, const TCalcPoint& point) override { local_.Submit(index, point); }

  std::optional<std::string> Take(long index, const std::function<bool()>& idle) override {
    return local_.Take(index, [this, &idle] {
      Serve();
      return idle();
    });
  }

 private:
  // Reads what the other ranks sent and hands out points to those asking.
  void Serve() {
    while (std::optional<TMessage> message = Poll(MPI_ANY_SOURCE)) {
      const std::size_t from = std::size_t(message->source);
      switch (message->tag) {
        case kTagRequest:
          asked_[from] = IntOf(*message);
          largestAsk_[from] = std::max<long>(largestAsk_[from], static_cast<long>(asked_[from]));
          break;
        case kTagLine: {
          TWireReader r(message->body);
          const long index = static_cast<long>(r.Int());
          local_.Deliver(index, r.Text());
          break;
        }
        case kTagFailed: {
          TWireReader r(message->body);
          local_.Fail(r.Text());
          break;
        }
        case kTagStopped:
          // A stop signal on any rank (a job scheduler may signal them one
          // by one) stops the run as if it had come here.
          ::raise(static_cast<int>(IntOf(*message)));
          break;
        default:
          break;
      }
    }
    for (int rank = 1; rank < ranks_; ++rank) {
      std::int64_t& asked = asked_[std::size_t(rank)];
      if (asked <= 0) continue;
      const std::vector<TPointPipeline::Job> jobs = local_.HandOut(static_cast<long>(asked));
      if (jobs.empty()) continue;
      TWireWriter chunk;
      for (const TPointPipeline::Job& job : jobs) {
        chunk.Int(job.index);
        chunk.Real(job.point.lambda);
        chunk.Real(job.point.phi);
        chunk.Real(job.point.pointNumber);
        chunk.Real(job.point.height);
      }
      Send(rank, kTagChunk, chunk.bytes());
      asked = 0;
    }
  }

  int localWorkers_;
  int ranks_ = 1;
  std::vector<std::int64_t> asked_;  // per rank: points it waits for; 0 when it is not asking
  std::vector<long> largestAsk_;     // per rank: the most it asked for at once
  TPointPipeline local_;             // last: its workers stop before the rest goes
};

// Sends every other rank the run record and the threads per rank: they set
// up the same run and load the grids in step with rank 0, the ranks of its
// node into the same shared windows.
void StartOtherRanks(const TRunParameters& params, int threadsPerRank) {
  int ranks = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  TWireWriter start;
  start.Int(threadsPerRank);
  WriteRecord(start, params);
  for (int rank = 1; rank < ranks; ++rank) Send(rank, kTagStart, start.bytes());
}

// Tells every other rank the exit status, runs `whileTheyEnd` (collective
// calls that the other ranks make once they know the status), and waits
// until each has answered, reading and dropping whatever they still send,
// so that no rank is left blocked in a send when the job finalises.
void EndOtherRanks(int status, const std::function<void()>& whileTheyEnd) {
  int ranks = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  for (int rank = 1; rank < ranks; ++rank) SendInt(rank, kTagStatus, status);
  whileTheyEnd();
  for (int rank = 1; rank < ranks; ++rank) {
    while (WaitFor(rank).tag != kTagDone) {
    }
  }
}

// ---- the other ranks ----

// Keeps the messages of the set-up, one a line, for rank 0 to print as the
// batch would have printed them.
class TRecordedPrompts : public IUserPrompts {
 public:
  void ShowMessage(const std::string& text) override {
    if (!message.empty() && message.back() != '\n') message += '\n';
    message += text;
  }
  bool AskYesNo(const std::string&) override { return false; }
  std::string message;
};

// One block of memory that a grid's values vector takes whole: a node's
// shared window.
class TWindowResource : public std::pmr::memory_resource {
 public:
  TWindowResource(void* base, std::size_t bytes) : base_(base), bytes_(bytes) {}

 private:
  void* do_allocate(std::size_t bytes, std::size_t) override {
    if (bytes > bytes_) throw std::bad_alloc();
    return base_;
  }
  void do_deallocate(void*, std::size_t, std::size_t) override {}
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
  void* base_;
  std::size_t bytes_;
};

// The grids of the ranks of one node: the first rank of the node reads each
// file, and every rank of the node samples the one copy in an MPI
// shared-memory window. Every rank of the node loads the same files in the
// same order, which the run record fixes, so the collective calls pair up.
class TNodeGrids {
 public:
  explicit TNodeGrids(MPI_Comm node) : node_(node) { MPI_Comm_rank(node_, &nodeRank_); }
  TNodeGrids(const TNodeGrids&) = delete;
  TNodeGrids& operator=(const TNodeGrids&) = delete;
  // Frees the windows: collective, so every rank of the node calls it once
  // the grids are released.
  void Free() {
    for (MPI_Win& window : windows_) MPI_Win_free(&window);
    windows_.clear();
    resources_.clear();
  }

  bool Load(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts) {
    // The header travels as the grid without its values.
    TGridImports read;
    TRecordedPrompts readerMessages;
    std::int64_t loaded = 0;
    if (nodeRank_ == 0) {
      try {
        loaded = LoadGrid(read, fileName, readerMessages) ? 1 : 0;
      } catch (const std::bad_alloc&) {
        readerMessages.ShowMessage("Not enough memory to read the grid " + fileName);
      }
    }
    TWireWriter header;
    header.Int(loaded);
    header.Text(readerMessages.message);
    header.Int(read.fileFormat);
    header.Real(read.blankValue);
    header.Int(read.blankCount);
    header.Int(read.nx);
    header.Int(read.ny);
    for (double v : {read.xMin, read.xMax, read.xRange, read.xStep, read.yMin, read.yMax, read.yRange, read.yStep,
                     read.zMin, read.zMax, read.zRange}) {
      header.Real(v);
    }
    std::string bytes = header.bytes();
    std::int64_t size = static_cast<std::int64_t>(bytes.size());
    MPI_Bcast(&size, 1, MPI_INT64_T, 0, node_);
    bytes.resize(std::size_t(size));
    MPI_Bcast(bytes.data(), static_cast<int>(size), MPI_BYTE, 0, node_);
    TWireReader r(bytes);
    loaded = r.Int();
    const std::string messages = r.Text();
    if (!messages.empty()) prompts.ShowMessage(messages);
    if (!loaded) return false;
    grid.fileFormat = static_cast<std::uint8_t>(r.Int());
    grid.blankValue = r.Real();
    grid.blankCount = static_cast<decltype(grid.blankCount)>(r.Int());
    grid.nx = static_cast<decltype(grid.nx)>(r.Int());
    grid.ny = static_cast<decltype(grid.ny)>(r.Int());
    for (double* v : {&grid.xMin, &grid.xMax, &grid.xRange, &grid.xStep, &grid.yMin, &grid.yMax, &grid.yRange,
                      &grid.yStep, &grid.zMin, &grid.zMax, &grid.zRange}) {
      *v = r.Real();
    }

    const std::size_t count = std::size_t(grid.nx) * std::size_t(grid.ny);
    const MPI_Aint bytesHere = nodeRank_ == 0 ? static_cast<MPI_Aint>(count * sizeof(float)) : 0;
    void* base = nullptr;
    MPI_Win window = MPI_WIN_NULL;
    MPI_Win_allocate_shared(bytesHere, sizeof(float), MPI_INFO_NULL, node_, &base, &window);
    windows_.push_back(window);
    MPI_Aint windowBytes = 0;
    int unit = 0;
    MPI_Win_shared_query(window, 0, &windowBytes, &unit, &base);
    resources_.push_back(std::make_unique<TWindowResource>(base, std::size_t(windowBytes)));
    // A vector keeps the memory resource it was made with (assignment does
    // not pass one on): the grid's is made again on the window's.
    std::destroy_at(&grid.values);
    std::construct_at(&grid.values, resources_.back().get());
    // Every rank sizes its view (which writes zeros) before the first rank
    // copies the values in.
    grid.values.resize(count);
    MPI_Barrier(node_);
    if (nodeRank_ == 0) std::memcpy(base, read.values.data(), count * sizeof(float));
    MPI_Win_sync(window);
    MPI_Barrier(node_);
    return true;
  }

 private:
  MPI_Comm node_;
  int nodeRank_ = 0;
  std::vector<MPI_Win> windows_;
  std::vector<std::unique_ptr<TWindowResource>> resources_;
};

// Whether rank 0 has ended the run; its status once it has.
class TRankZeroWord {
 public:
  bool Arrived() {
    if (!status_) {
      if (std::optional<TMessage> message = Poll(0, kTagStatus)) status_ = static_cast<int>(IntOf(*message));
    }
    return status_.has_value();
  }
  void Set(int status) { status_ = status; }
  int Wait() {
    while (!Arrived()) std::this_thread::sleep_for(kPollPause);
    return *status_;
  }

 private:
  std::optional<int> status_;
};

// A stop for the evaluation on this rank: rank 0 ended the run, or a signal
// came.
class TRankStop : public TSilentProgress {
 public:
  explicit TRankStop(TRankZeroWord& word) : word_(word) {}
  bool StopRequested() override { return CaughtStopSignal() != 0 || word_.Arrived(); }

 private:
  TRankZeroWord& word_;
};

// Evaluates the points rank 0 hands out until rank 0 ends the run or a
// signal comes.
void ServePoints(const TRunContext& ctx, int threads, TRankZeroWord& word) {
  TRankStop stop(word);
  TPointPipeline pipeline(ctx, threads, stop);
  const long capacity = std::max(kChunkPointsPerThread, kChunkPointsPerThread * threads) * 2;
  std::deque<std::pair<long, TCalcPoint>> received;
  std::deque<long> inFlight;  // submitted to the pipeline, in order
  bool asking = false;
  for (;;) {
    if (const int signal = CaughtStopSignal(); signal != 0) {
      SendInt(0, kTagStopped, signal);
      return;
    }
    if (word.Arrived()) return;
    const long held = static_cast<long>(received.size() + inFlight.size());
    if (!asking && held <= capacity / 2) {
      SendInt(0, kTagRequest, capacity - held);
      asking = true;
    }
    if (std::optional<TMessage> chunk = Poll(0, kTagChunk)) {
      TWireReader r(chunk->body);
      while (!r.AtEnd()) {
        const long index = static_cast<long>(r.Int());
        TCalcPoint point;
        point.lambda = r.Real();
        point.phi = r.Real();
        point.pointNumber = r.Real();
        point.height = r.Real();
        received.emplace_back(index, point);
      }
      asking = false;
    }
    while (!received.empty() && static_cast<long>(inFlight.size()) < pipeline.window()) {
      pipeline.Submit(received.front().first, received.front().second);
      inFlight.push_back(received.front().first);
      received.pop_front();
    }
    if (inFlight.empty()) {
      std::this_thread::sleep_for(kPollPause);
      continue;
    }
    const std::optional<std::string> line =
        pipeline.Take(inFlight.front(), [&stop]() -> bool { return stop.StopRequested(); });
    if (!line) continue;  // stopped: said at the top of the loop
    TWireWriter w;
    w.Int(inFlight.front());
    w.Text(*line);
    Send(0, kTagLine, w.bytes());
    inFlight.pop_front();
  }
}

void SendFailure(const std::string& message) {
  TWireWriter w;
  w.Text(message);
  Send(0, kTagFailed, w.bytes());
}

int RunOtherRank(MPI_Comm node) {
  TRankZeroWord word;
  TNodeGrids grids(node);
  const TMessage first = WaitFor(0);
  if (first.tag == kTagStatus) {
    word.Set(static_cast<int>(IntOf(first)));
  } else if (first.tag == kTagStart) {
    try {
      TWireReader r(first.body);
      const int threads = ResolvedThreads(static_cast<int>(r.Int()));
      const TRunParameters params = ReadRecord(r);
      TRunOptions options;
      options.decimalSeparator = '.';
      options.threads = threads;
      options.loadGrid = [&grids](TGridImports& grid, const std::string& fileName, IUserPrompts& gridPrompts) {
        return grids.Load(grid, fileName, gridPrompts);
      };
      TRecordedPrompts prompts;
      TCalcEngine engine;
      // The set-up's messages (a grid this node cannot read) reach the user
      // through rank 0, which fails the run with them.
      if (!engine.ServeRun(params, prompts, options,
                           [&](const TRunContext& ctx) { ServePoints(ctx, threads, word); })) {
        SendFailure(prompts.message);
      }
    } catch (const std::bad_alloc&) {
      SendFailure("Not enough memory for this run");
    } catch (const std::exception& e) {
      SendFailure(e.what());
    } catch (...) {
      SendFailure("The run stopped on an unexpected error");
    }
  }
  const int status = word.Wait();
  // The grids were released with the run.
  grids.Free();
  Send(0, kTagDone, std::string());
  return status;
}

}  // namespace

std::string MpiUsage() {
  return "Usage: mpirun [-np RANKS] globelayers-mpi [--unit mGal|microGal] [--threads N] [--zones PRESET] "
         "SETTINGS.ini\n"
         "\n"
         "Runs the calculation that a settings file of the main window describes\n"
         "over the ranks of an MPI job and writes the same result file (_dce.dat)\n"
         "and run log (_dce.con) as globelayers-batch, beside the point file. Rank 0\n"
         "reads the settings and the point file and writes the files; every rank\n"
         "reads the grid files itself, so they must be readable on every node.\n"
         "Relative paths in the settings file are taken from the current directory.\n"
         "\n"
         "  --unit U     output unit of DTE and DTE(i): mGal (default) or microGal\n"
         "  --threads N  worker threads per rank (0 = all cores of its node), at most\n"
         "               4 per core; default: 1; the results are the same for every N\n"
         "  --zones P    zone preset standard or fine: bands and segment sizes from\n"
         "               the finest grid spacing (replaces the file's [zones])\n"
         "  --help       show this help\n"
         "\n"
         "SIGINT (Ctrl-C) or SIGTERM on any rank stops the run after the points\n"
         "completed so far: the result file keeps whole lines and the run log says\n"
         "why it ended.\n"
         "\n"
         "Exit status of every rank: 0 the run completed, 1 it was refused or failed,\n"
         "2 usage error, 130 stopped by SIGINT, 143 stopped by SIGTERM.\n";
}

int RunMpiRank(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  // The ranks of each node: they share the node's grids. Ordered by rank,
  // so that rank 0 reads the files of its node.
  // GLOBELAYERS_MPI_NODE=N puts a rank in the group N instead: the tests
  // play several nodes on one machine with it (the groups must still lie
  // within one machine, as they share memory).
  MPI_Comm node = MPI_COMM_NULL;
  int group = 0;
  if (const char* forced = std::getenv("GLOBELAYERS_MPI_NODE"); forced != nullptr && TextToInt(forced, group)) {
    MPI_Comm_split(MPI_COMM_WORLD, group, rank, &node);
  } else {
    MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, rank, MPI_INFO_NULL, &node);
  }
  if (rank != 0) {
    try {
      const int status = RunOtherRank(node);
      MPI_Comm_free(&node);
      return status;
    } catch (...) {
      // Only a message that cannot be read gets here: rank 0's word is lost.
      return kBatchFailed;
    }
  }
  TBatchFrontEnd frontEnd;
  frontEnd.programName = "globelayers-mpi";
  frontEnd.usage = MpiUsage();
  frontEnd.defaultThreads = 1;  // one rank per core is the usual layout of a job
  int threadsPerRank = 1;
  // The batch resolves --threads for rank 0 only; the others resolve the
  // same value on their own node.
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string value;
    if (args[i] == "--") break;
    if (args[i] == "--threads" && i + 1 < args.size()) value = args[i + 1];
    if (args[i].rfind("--threads=", 0) == 0) value = args[i].substr(10);
    // A value the batch refuses never reaches a run.
    if (int threads = 0; !value.empty() && TextToInt(value, threads)) threadsPerRank = threads;
  }
  frontEnd.beforeGrids = [&threadsPerRank](const TRunParameters& params) {
    StartOtherRanks(params, threadsPerRank);
  };
  TNodeGrids grids(node);
  frontEnd.loadGrid = [&grids](TGridImports& grid, const std::string& fileName, IUserPrompts& gridPrompts) {
    return grids.Load(grid, fileName, gridPrompts);
  };
  frontEnd.pointLines = [](const TRunParameters&, const TRunContext& ctx, int workers,
                           IRunProgress& progress) -> std::unique_ptr<IPointLines> {
    return std::make_unique<TRankZeroLines>(ctx, workers, progress);
  };
  const int status = RunBatch(args, out, err, errIsTerminal, frontEnd);
  // The run has released its grids; the windows go with the node's other
  // ranks, once they know the status.
  EndOtherRanks(status, [&grids] { grids.Free(); });
  MPI_Comm_free(&node);
  return status;
}

}  // namespace globelayers
