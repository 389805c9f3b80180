#include "tests/watch/wmi_standin/wql.h"

#include <cerrno>
#include <cstdint>
#include <cwchar>
#include <cwctype>

namespace wmi_standin {

namespace {

// One word, number, quoted text or operator of the query.
struct Token {
  enum class Type { kWord, kNumber, kText, kSymbol, kEnd } type = Type::kEnd;
  std::wstring text;
};

class Tokens {
 public:
  explicit Tokens(const std::wstring& text) : text_(text) {}

  // The next token; a malformed one (an unclosed quote, an odd character)
  // gives nothing.
  std::optional<Token> Next() {
    while (pos_ < text_.size() && std::iswspace(text_[pos_])) ++pos_;
    Token token;
    if (pos_ == text_.size()) return token;
    const wchar_t c = text_[pos_];
    if (std::iswalpha(c) || c == L'_') {
      token.type = Token::Type::kWord;
      while (pos_ < text_.size() && (std::iswalnum(text_[pos_]) || text_[pos_] == L'_')) token.text += text_[pos_++];
    } else if (std::iswdigit(c) || (c == L'-' && pos_ + 1 < text_.size() && std::iswdigit(text_[pos_ + 1]))) {
      token.type = Token::Type::kNumber;
      token.text += text_[pos_++];
      while (pos_ < text_.size() && std::iswdigit(text_[pos_])) token.text += text_[pos_++];
    } else if (c == L'"' || c == L'\'') {
      const std::size_t end = text_.find(c, pos_ + 1);
      if (end == std::wstring::npos) return std::nullopt;
      token.type = Token::Type::kText;
      token.text = text_.substr(pos_ + 1, end - pos_ - 1);
      pos_ = end + 1;
    } else if (c == L'<' && pos_ + 1 < text_.size() && text_[pos_ + 1] == L'=') {
      token.type = Token::Type::kSymbol;
      token.text = L"<=";
      pos_ += 2;
    } else if (c == L'=' || c == L'>' || c == L',' || c == L'*') {
      token.type = Token::Type::kSymbol;
      token.text = std::wstring(1, c);
      ++pos_;
    } else {
      return std::nullopt;
    }
    return token;
  }

 private:
  const std::wstring& text_;
  std::size_t pos_ = 0;
};

bool IsWord(const Token& token, const wchar_t* word) {
  if (token.type != Token::Type::kWord || token.text.size() != std::wcslen(word)) return false;
  for (std::size_t i = 0; i < token.text.size(); ++i) {
    if (std::towlower(token.text[i]) != std::towlower(word[i])) return false;
  }
  return true;
}

bool IsSymbol(const Token& token, const wchar_t* symbol) {
  return token.type == Token::Type::kSymbol && token.text == symbol;
}

bool SameWithoutCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

// The property named by token, with its kind; kUnknown for any other word.
Kind PropertyOf(const Token& token, std::wstring& spelling) {
  if (token.type != Token::Type::kWord) return Kind::kUnknown;
  return PropertyKind(token.text, &spelling);
}

class Parser {
 public:
  explicit Parser(const std::wstring& text) : tokens_(text) {}

  std::optional<Query> Parse(QueryError& error) {
    error = QueryError::kSyntax;
    Query query;
    if (!Advance() || !IsWord(token_, L"SELECT") || !Advance()) return std::nullopt;
    if (IsSymbol(token_, L"*")) {
      if (!Advance()) return std::nullopt;
    } else {
      while (true) {
        std::wstring column;
        if (token_.type != Token::Type::kWord) return std::nullopt;
        if (PropertyOf(token_, column) == Kind::kUnknown) return Unknown(error);
        query.columns.push_back(column);
        if (!Advance()) return std::nullopt;
        if (!IsSymbol(token_, L",")) break;
        if (!Advance()) return std::nullopt;
      }
    }
    if (!IsWord(token_, L"FROM") || !Advance() || token_.type != Token::Type::kWord) return std::nullopt;
    query.class_name = token_.text;
    if (!Advance()) return std::nullopt;
    if (IsWord(token_, L"WHERE")) {
      do {
        if (!Advance()) return std::nullopt;
        Condition condition;
        if (token_.type != Token::Type::kWord) return std::nullopt;
        const Kind kind = PropertyOf(token_, condition.property);
        if (kind == Kind::kUnknown) return Unknown(error);
        if (!Advance()) return std::nullopt;
        if (IsSymbol(token_, L"=")) {
          condition.op = Condition::Op::kEquals;
        } else if (IsSymbol(token_, L"<=")) {
          condition.op = Condition::Op::kAtMost;
        } else if (IsSymbol(token_, L">")) {
          condition.op = Condition::Op::kAbove;
        } else {
          return std::nullopt;
        }
        if (!Advance()) return std::nullopt;
        const bool number_kind = kind == Kind::kUint8 || kind == Kind::kUint16 || kind == Kind::kUint32;
        if (kind == Kind::kText && token_.type == Token::Type::kText && condition.op == Condition::Op::kEquals) {
          condition.literal = token_.text;
        } else if (number_kind && token_.type == Token::Type::kNumber) {
          wchar_t* end = nullptr;
          errno = 0;
          const long long n = std::wcstoll(token_.text.c_str(), &end, 10);
          if (errno != 0) return std::nullopt;
          condition.literal = static_cast<std::int64_t>(n);
        } else {
          return std::nullopt;
        }
        query.conditions.push_back(condition);
        if (!Advance()) return std::nullopt;
      } while (IsWord(token_, L"AND"));
    }
    if (token_.type != Token::Type::kEnd) return std::nullopt;
    error = QueryError::kNone;
    return query;
  }

 private:
  bool Advance() {
    std::optional<Token> next = tokens_.Next();
    if (!next) return false;
    token_ = *next;
    return true;
  }
  static std::optional<Query> Unknown(QueryError& error) {
    error = QueryError::kUnknownProperty;
    return std::nullopt;
  }

  Tokens tokens_;
  Token token_;
};

bool Satisfies(const Condition& condition, const Value& value) {
  if (const auto* text = std::get_if<std::wstring>(&value)) {
    const auto* literal = std::get_if<std::wstring>(&condition.literal);
    return literal != nullptr && SameWithoutCase(*text, *literal);
  }
  const auto* number = std::get_if<std::uint32_t>(&value);
  const auto* literal = std::get_if<std::int64_t>(&condition.literal);
  if (number == nullptr || literal == nullptr) return false;  // null satisfies nothing
  const std::int64_t n = *number;
  switch (condition.op) {
    case Condition::Op::kEquals: return n == *literal;
    case Condition::Op::kAtMost: return n <= *literal;
    case Condition::Op::kAbove: return n > *literal;
  }
  return false;
}

}  // namespace

std::optional<Query> ParseQuery(const std::wstring& text, QueryError& error) { return Parser(text).Parse(error); }

bool Matches(const Query& query, const Entry& entry) {
  for (const Condition& condition : query.conditions) {
    if (!Satisfies(condition, entry.Get(condition.property))) return false;
  }
  return true;
}

}  // namespace wmi_standin
