#include "watch/sequence_marks.h"

#include <algorithm>

#include "platform/whole_number.h"

namespace vantrel {

namespace {

constexpr std::string_view kFloor = "floor=";
constexpr std::string_view kForgot = "forgot";
constexpr std::string_view kLeft = "left=";
constexpr std::size_t kPrefix = 8;  // the hexadecimal digits of a sequence kept in the list of those left out

bool IsHex(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool IsSequenceId(std::string_view text) { return text.size() == 32 && IsHex(text); }

// Splits text at each separator.
std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  while (true) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

bool Holds(const std::vector<JournalSequence>& present, std::string_view id) {
  return std::any_of(present.begin(), present.end(), [id](const JournalSequence& s) { return s.id == id; });
}

// An entry numbered `number` (as a journal sequence number) is above mark.
bool Above(std::uint64_t number, std::int64_t mark) { return mark < 0 || number > static_cast<std::uint64_t>(mark); }

}  // namespace

SequenceMarks SequenceMarks::NumberRule(std::int64_t number) {
  SequenceMarks marks;
  marks.floor_ = number;
  return marks;
}

std::optional<SequenceMarks> SequenceMarks::Read(std::string_view text, std::int64_t number) {
  if (text.empty()) return NumberRule(number);
  SequenceMarks marks;
  for (std::string_view item : Split(text, ',')) {
    if (item == kForgot) {
      marks.forgot_ = true;
    } else if (item.starts_with(kLeft)) {
      for (std::string_view left : Split(item.substr(kLeft.size()), '.')) {
        const std::string_view prefix = left.substr(0, kPrefix);
        const auto mark = left.size() > kPrefix + 1 && left[kPrefix] == ':'
                              ? WholeNumber<std::uint64_t>(left.substr(kPrefix + 1))
                              : std::nullopt;
        if (prefix.size() != kPrefix || !IsHex(prefix) || !mark) return std::nullopt;
        marks.left_.push_back({std::string(prefix), *mark});
      }
      if (marks.left_.size() > kLeftBound) return std::nullopt;
    } else if (item.starts_with(kFloor)) {
      const auto floor = WholeNumber<std::int64_t>(item.substr(kFloor.size()));
      if (!floor) return std::nullopt;
      marks.floor_ = *floor;
    } else {
      const std::size_t equals = item.find('=');
      Known known{std::string(item.substr(0, equals)), 0};
      const auto mark =
          equals == std::string_view::npos ? std::nullopt : WholeNumber<std::uint64_t>(item.substr(equals + 1));
      if (!mark || !IsSequenceId(known.id) || marks.Find(known.id)) return std::nullopt;
      known.mark = *mark;
      marks.known_.push_back(std::move(known));
    }
  }
  if (marks.known_.size() > kBound) return std::nullopt;
  return marks;
}

const SequenceMarks::Known* SequenceMarks::Find(std::string_view id) const {
  const auto it = std::find_if(known_.begin(), known_.end(), [id](const Known& k) { return k.id == id; });
  return it == known_.end() ? nullptr : &*it;
}

SequenceMarks::Plan SequenceMarks::PlanFor(const JournalSequence& sequence) const {
  if (const Known* known = Find(sequence.id)) {
    if (sequence.tail <= known->mark) return {Action::kSkip, known->mark};
    return {Action::kReadAbove, known->mark};
  }
  if (floor_) {
    if (!Above(sequence.tail, *floor_)) return {Action::kSkip, sequence.tail};
    return {Action::kReadAbove, *floor_ < 0 ? 0 : static_cast<std::uint64_t>(*floor_)};
  }
  // Left out for the bound: the list kept the mark it had then, and what lies
  // above that mark is new. Never seen: all of it is new, unless the list of
  // those left out overflowed, so that it may be one of them; then only what
  // the running boot wrote to it is new.
  if (const Known* left = FindLeft(sequence.id)) {
    if (sequence.tail <= left->mark) return {Action::kSkip, left->mark};
    return {Action::kReadAbove, left->mark};
  }
  if (forgot_) return {Action::kReadIfOfThisBoot, 0};
  return {Action::kReadAbove, 0};
}

void SequenceMarks::Advance(const std::string& id, std::uint64_t through) {
  const auto it = std::find_if(known_.begin(), known_.end(), [&id](const Known& k) { return k.id == id; });
  if (it == known_.end()) {
    known_.push_back({id, through});
  } else if (through > it->mark) {
    it->mark = through;
  } else {
    return;  // did not move on
  }
  advanced_.erase(std::remove(advanced_.begin(), advanced_.end(), id), advanced_.end());
  advanced_.push_back(id);
}

void SequenceMarks::Finish(const std::vector<JournalSequence>& present, bool complete) {
  std::vector<Known> by_age;
  for (auto id = advanced_.rbegin(); id != advanced_.rend(); ++id) by_age.push_back(*Find(*id));
  for (const Known& k : known_) {
    if (std::find(advanced_.begin(), advanced_.end(), k.id) == advanced_.end()) by_age.push_back(k);
  }
  // 0: written in the running boot, 1: others in the journal, 2: gone from it.
  const auto rank = [&present](const Known& k) {
    const auto it =
        std::find_if(present.begin(), present.end(), [&k](const JournalSequence& s) { return s.id == k.id; });
    return it == present.end() ? 2 : it->this_boot ? 0 : 1;
  };
  std::vector<Known> ordered;
  for (int wanted : {0, 1, 2}) {
    for (const Known& k : by_age) {
      if (rank(k) == wanted) ordered.push_back(k);
    }
  }
  // The list of those left out keeps the ones the journal still holds and
  // does not know, and takes the ones the bound leaves out now, newest last.
  std::vector<Known> left;
  for (const Known& l : left_) {
    if (std::any_of(present.begin(), present.end(), [&](const JournalSequence& s) {
          return s.id.starts_with(l.id) &&
                 !std::any_of(ordered.begin(), ordered.begin() + std::min(kBound, ordered.size()),
                              [&s](const Known& k) { return k.id == s.id; });
        })) {
      left.push_back(l);
    }
  }
  for (std::size_t i = kBound; i < ordered.size(); ++i) {
    if (!Holds(present, ordered[i].id)) continue;
    const std::string prefix = ordered[i].id.substr(0, kPrefix);
    const auto same = std::find_if(left.begin(), left.end(), [&prefix](const Known& l) { return l.id == prefix; });
    if (same != left.end()) left.erase(same);
    left.push_back({prefix, ordered[i].mark});
  }
  const bool overflow = left.size() > kLeftBound;
  if (overflow) left.erase(left.begin(), left.end() - kLeftBound);
  left_ = std::move(left);
  if (ordered.size() > kBound) ordered.resize(kBound);
  known_ = std::move(ordered);
  advanced_.clear();
  if (complete) floor_.reset();
  // Once every sequence in the journal is known again, none is left out.
  forgot_ = overflow || (forgot_ && std::any_of(present.begin(), present.end(),
                                                [this](const JournalSequence& s) { return !Find(s.id); }));
}

const SequenceMarks::Known* SequenceMarks::FindLeft(std::string_view id) const {
  const auto it = std::find_if(left_.begin(), left_.end(), [id](const Known& l) { return id.starts_with(l.id); });
  return it == left_.end() ? nullptr : &*it;
}

std::string SequenceMarks::Text() const {
  std::string text;
  const auto add = [&text](const std::string& item) { text += (text.empty() ? "" : ",") + item; };
  for (const Known& k : known_) add(k.id + "=" + std::to_string(k.mark));
  if (floor_ && !(known_.empty() && !forgot_ && left_.empty())) add(std::string(kFloor) + std::to_string(*floor_));
  if (!left_.empty()) {
    std::string list(kLeft);
    for (const Known& l : left_) list += (list.size() == kLeft.size() ? "" : ".") + l.id + ":" + std::to_string(l.mark);
    add(list);
  }
  if (forgot_) add(std::string(kForgot));
  return text;
}

}  // namespace vantrel
