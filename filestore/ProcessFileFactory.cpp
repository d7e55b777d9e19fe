#include "filestore/ProcessFileFactory.h"

#include <mutex>
#include <utility>

#include "filestore/FileFactoryImpl.h"

namespace Corvane {
namespace File {

namespace {

struct FactorySlot {
  std::mutex mutex;
  std::shared_ptr<FileFactory> factory;
};

FactorySlot& Slot() {
  static FactorySlot slot;
  return slot;
}

}  // namespace

std::shared_ptr<FileFactory> ProcessFileFactory() {
  FactorySlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  if (!slot.factory) slot.factory = std::make_shared<FileFactoryImpl>();
  return slot.factory;
}

std::shared_ptr<FileFactory> SetProcessFileFactory(std::shared_ptr<FileFactory> factory) {
  FactorySlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  std::swap(slot.factory, factory);
  return factory;
}

}  // namespace File
}  // namespace Corvane
