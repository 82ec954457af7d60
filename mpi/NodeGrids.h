// The grids of the ranks of one node: the first rank of the node reads each
// file (or the part of it that the run reaches), and every rank of the node
// samples one copy in an MPI shared-memory window.
#pragma once

#include <mpi.h>

#include <memory>
#include <memory_resource>
#include <string>
#include <vector>

#include "GridImports.h"
#include "UserPrompts.h"

namespace globelayers {

// Every rank of the node loads the same files in the same order, which the
// run record fixes, so the collective calls pair up.
class TNodeGrids {
 public:
  explicit TNodeGrids(MPI_Comm node);
  TNodeGrids(const TNodeGrids&) = delete;
  TNodeGrids& operator=(const TNodeGrids&) = delete;
  // Frees the windows: collective, so every rank of the node calls it once
  // the grids are released.
  void Free();

  // LoadGridWindow for the node: the node's first rank reads the nodes that
  // `choose` picks (every node for an empty chooser; the other ranks'
  // choosers are not called), and its messages reach `prompts` on every
  // rank of the node. When the node cannot share memory (a file size limit
  // below the grid's size, as shared memory is a file), each rank gets a
  // copy of its own, sent by the first.
  bool Load(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts, const TWindowChooser& choose);

 private:
  // The values in a shared window, or a copy on each rank.
  void ShareValues(TGridImports& grid, const TGridImports& read, std::size_t count);
  void CopyValues(TGridImports& grid, TGridImports& read, std::size_t count);

  MPI_Comm node_;
  int nodeRank_ = 0;
  std::vector<MPI_Win> windows_;
  std::vector<std::unique_ptr<std::pmr::memory_resource>> resources_;
};

}  // namespace globelayers
