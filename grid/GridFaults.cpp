#include "GridFaults.h"

#include <iterator>

namespace globelayers {
namespace {

struct TFaultText {
  TGridFault fault;
  const char* text;  // "%s" stands for the file name; nullptr: nothing is said
};

// Every message of grid/, one per fault. Users and scripts know these
// texts, leading and trailing line breaks included: they stay as they are.
constexpr TFaultText kFaultTexts[] = {
    {TGridFault::kNone, nullptr},
    {TGridFault::kNotOpened, "Error by opening file %s\n"},
    {TGridFault::kUnknownFormat, "\nError by reading grid %s"},
    {TGridFault::kDamaged, "\nError by reading grid %s"},
    {TGridFault::kNoMemory, "\nError by reading grid %s"},
    {TGridFault::kStopped, nullptr},
    {TGridFault::kFenced, "\nError by reading grid %s"},
    {TGridFault::kOverclaimed, "\nError by reading grid %s"},
    {TGridFault::kNoSingleRaster, "\nError by reading grid %s"},
    {TGridFault::kValueType, "\nError by reading grid %s"},
    {TGridFault::kGeometry, "\nError by reading grid %s"},
    {TGridFault::kNotDegrees, "\nError by reading grid %s"},
    {TGridFault::kTooLarge, "\nError by reading grid %s"},
    {TGridFault::kReadFailed, "\nError by reading grid %s"},
};

}  // namespace

std::string GridFaultMessage(TGridFault fault, const std::string& fileName, const std::string& reason) {
  for (const TFaultText& entry : kFaultTexts) {
    if (entry.fault != fault) continue;
    if (entry.text == nullptr) return {};
    // The name is inserted, never used as a format.
    std::string text(entry.text);
    if (const auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, fileName);
    if (!reason.empty()) text += "\n" + reason;
    return text;
  }
  return {};
}

}  // namespace globelayers
