// The walk of a file read in place (JournalFileReader); an entry one of
// whose fields is compressed is read through the library.
#include <systemd/sd-id128.h>

#include <optional>
#include <string>

#include "watch/journal/journal_file_reader_linux.h"
#include "watch/journal/journal_library_linux.h"
#include "watch/journal/journal_walker_linux.h"

namespace vantrel {

namespace {

// The 16 bytes of a boot identifier given in hexadecimal.
std::optional<std::string> BootBytes(const std::string& boot) {
  sd_id128_t id;
  if (boot.empty() || sd_id128_from_string(boot.c_str(), &id) < 0) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(id.bytes), sizeof id.bytes);
}

class InPlaceWalk : public JournalWalker {
 public:
  bool Start(const JournalFileHeader& file, const WalkRequest& request) override {
    reader_ = JournalFileReader::Open(file.fd.get());
    if (!reader_ || !reader_->Start(request.source, request.above, BootBytes(request.only_boot))) return false;
    file_ = &file;
    request_ = request;
    return true;
  }

  std::optional<WalkedEntry> Next() override {
    while (!ended_) {
      const std::optional<JournalFileEntry> entry = reader_->Next();
      if (!entry || entry->number > request_.through) break;
      WalkedEntry walked{entry->number, entry->realtime, entry->tagged, {}};
      if (entry->readable) {
        walked.fields = JournalEntryFields::Of(*entry);
      } else if (!ReadThroughLibrary(entry->number, walked.fields)) {
        continue;  // as a damaged entry: it holds up nothing behind it
      }
      return walked;
    }
    ended_ = true;
    return std::nullopt;
  }

  bool Damaged() const override { return reader_ && reader_->Damaged(); }

 private:
  // The fields of the entry numbered `number`, through the library.
  bool ReadThroughLibrary(std::uint64_t number, JournalEntryFields& fields) {
    if (!library_.IsOpen() && !library_.Open(*file_, request_)) return false;
    return library_.ReadEntry(request_.sequence, number, fields);
  }

  std::unique_ptr<JournalFileReader> reader_;
  const JournalFileHeader* file_ = nullptr;
  WalkRequest request_;
  JournalLibraryFile library_;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<JournalWalker> InPlaceWalker() { return std::make_unique<InPlaceWalk>(); }

}  // namespace vantrel
