// The messages between rank 0 and the other ranks of MPI_COMM_WORLD: their
// tags, sending, and receiving without spinning a core.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "UserPrompts.h"

namespace globelayers {

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
inline constexpr auto kPollPause = std::chrono::microseconds(200);

// Points a rank asks for per evaluating thread: enough to keep its threads
// busy while the next chunk is on its way, few enough that the ordered
// writing on rank 0 keeps little in memory.
inline constexpr long kChunkPointsPerThread = 4;

struct TMessage {
  int source = 0;
  int tag = 0;
  std::string body;
};

void Send(int rank, int tag, const std::string& body);
void SendInt(int rank, int tag, std::int64_t value);
// kTagFailed to rank 0 with the message for the user.
void SendFailure(const std::string& message);

// The next message from `source` (or MPI_ANY_SOURCE) with tag `tag` (or
// MPI_ANY_TAG), if one is there.
std::optional<TMessage> Poll(int source, int tag);
std::optional<TMessage> Poll(int source);
// Waits for the next message from `source`, sleeping kPollPause between looks.
TMessage WaitFor(int source);

// The one integer of a message sent by SendInt.
std::int64_t IntOf(const TMessage& message);

// Keeps the messages of a set-up, one a line, for rank 0 to print as the
// batch would have printed them.
class TRecordedPrompts : public IUserPrompts {
 public:
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string&) override { return false; }
  std::string message;
};

}  // namespace globelayers
