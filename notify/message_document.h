// The message document: a JSON object whose text members are set by name,
// held as UTF-8 and written out as compact JSON.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace vantrel {

enum class MessageDocumentKind { kUndefined, kObject };

class MessageDocument {
 public:
  // Makes the document empty: kind kUndefined, no members.
  void InitFast();
  // Sets the named member to a text value. A name already present (compared
  // without regard to ASCII case) keeps its place and its first spelling.
  void SetMember(const String& name, const String& value);
  MessageDocumentKind Kind() const { return members_->kind; }
  // The compact UTF-8 JSON text of the document ("null" while undefined):
  // the bytes of the request body.
  std::string ToUtf8Json() const;

 private:
  struct Members {
    MessageDocumentKind kind = MessageDocumentKind::kUndefined;
    std::vector<std::pair<std::string, std::string>> items;  // UTF-8 name, UTF-8 value
  };
  // Copies share their members, so handing the document on copies nothing.
  std::shared_ptr<Members> members_ = std::make_shared<Members>();
};

// UTF-8 form of a member name or value: a reversed surrogate pair is combined
// as if in order, an unpaired surrogate ends the text there, U+0000 is kept.
std::string DocTextToUtf8(std::u16string_view s);

}  // namespace vantrel
