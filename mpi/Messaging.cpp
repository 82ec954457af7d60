#include "Messaging.h"

#include <mpi.h>

#include <thread>
#include <utility>

#include "WireFormat.h"

namespace globelayers {

void Send(int rank, int tag, const std::string& body) {
  MPI_Send(body.data(), static_cast<int>(body.size()), MPI_BYTE, rank, tag, MPI_COMM_WORLD);
}

void SendInt(int rank, int tag, std::int64_t value) {
  TWireWriter w;
  w.Int(value);
  Send(rank, tag, w.bytes());
}

void SendFailure(const std::string& message) {
  TWireWriter w;
  w.Text(message);
  Send(0, kTagFailed, w.bytes());
}

std::optional<TMessage> Poll(int source, int tag) {
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

std::optional<TMessage> Poll(int source) { return Poll(source, MPI_ANY_TAG); }

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

void TRecordedPrompts::ShowMessage(const std::string& text) {
  if (!message.empty() && message.back() != '\n') message += '\n';
  message += text;
}

}  // namespace globelayers
