#include "ldap/query_parser.h"

#include <cctype>
#include <string_view>
#include <utility>

namespace corvenel {

namespace {

// kError stands where the text stops being readable; its text is the
// complaint, raised only when the parser gets that far.
enum class TokenKind {
  kWord,
  kNumber,
  kString,
  kComma,
  kOpen,
  kClose,
  kStar,
  kOperator,
  kError,
  kEnd
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;     // for kString, the value with doubled quotes undone
  size_t position = 0;  // 1-based
};

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
}

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

std::string Upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

std::vector<Token> Stop(std::vector<Token> tokens, size_t position, std::string complaint) {
  Token error;
  error.kind = TokenKind::kError;
  error.position = position;
  error.text = std::move(complaint);
  tokens.push_back(std::move(error));
  return tokens;
}

std::vector<Token> Tokenize(const std::string& text) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    Token token;
    token.position = i + 1;
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if (c == '\'') {
      ++i;
      for (;;) {
        if (i >= text.size())
          return Stop(std::move(tokens), token.position, "unterminated quoted text");
        if (text[i] == '\'') {
          if (i + 1 < text.size() && text[i + 1] == '\'') {
            token.text += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        token.text += text[i++];
      }
      token.kind = TokenKind::kString;
    } else if (IsWordChar(c) || (c == '-' && i + 1 < text.size() && IsDigit(text[i + 1]))) {
      size_t start = i++;
      // ';' belongs to a word only as the start of an attribute option.
      while (i < text.size() &&
             (IsWordChar(text[i]) || (text[i] == ';' && i + 1 < text.size() &&
                                      std::isalnum(static_cast<unsigned char>(text[i + 1]))))) {
        ++i;
      }
      token.text = text.substr(start, i - start);
      bool number = true;
      for (size_t k = (token.text[0] == '-') ? 1 : 0; k < token.text.size(); ++k) {
        if (!IsDigit(token.text[k])) number = false;
      }
      token.kind = number ? TokenKind::kNumber : TokenKind::kWord;
    } else if (c == ',' || c == '(' || c == ')' || c == '*') {
      token.kind = c == ','   ? TokenKind::kComma
                   : c == '(' ? TokenKind::kOpen
                   : c == ')' ? TokenKind::kClose
                              : TokenKind::kStar;
      token.text = std::string(1, c);
      ++i;
    } else if (c == '=' || c == '<' || c == '>') {
      token.kind = TokenKind::kOperator;
      token.text = std::string(1, c);
      ++i;
      if (i < text.size() && c != '=' && (text[i] == '=' || (c == '<' && text[i] == '>'))) {
        token.text += text[i++];
      }
    } else if (c == ';') {
      // A statement terminator; only allowed at the end (the parser checks).
      token.kind = TokenKind::kWord;
      token.text = ";";
      ++i;
    } else {
      std::string shown = std::isprint(static_cast<unsigned char>(c))
                              ? std::string("'") + c + "'"
                              : "byte " + std::to_string(static_cast<unsigned char>(c));
      return Stop(std::move(tokens), token.position, "unexpected character " + shown);
    }
    tokens.push_back(std::move(token));
  }
  Token end;
  end.position = text.size() + 1;
  tokens.push_back(end);
  return tokens;
}

// An attribute description: a name or a numeric OID, with options.
bool IsAttributeName(const std::string& name) {
  size_t i = 0;
  if (name.empty()) return false;
  if (std::isalpha(static_cast<unsigned char>(name[0]))) {
    while (i < name.size() && (std::isalnum(static_cast<unsigned char>(name[i])) || name[i] == '-'))
      ++i;
  } else {
    bool want_digit = true;
    while (i < name.size() && name[i] != ';') {
      if (IsDigit(name[i])) {
        want_digit = false;
      } else if (name[i] == '.' && !want_digit) {
        want_digit = true;
      } else {
        return false;
      }
      ++i;
    }
    if (want_digit) return false;
  }
  while (i < name.size()) {
    if (name[i] != ';' || i + 1 >= name.size()) return false;
    ++i;
    while (i < name.size() && (std::isalnum(static_cast<unsigned char>(name[i])) || name[i] == '-'))
      ++i;
    if (i < name.size() && name[i] != ';') return false;
  }
  return true;
}

bool IsHostName(std::string_view host) {
  if (host.empty()) return false;
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    for (char c : host.substr(1, host.size() - 2)) {
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
    }
    return true;
  }
  for (char c : host) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_') {
      return false;
    }
  }
  return true;
}

class Parser {
 public:
  explicit Parser(const std::string& text) : tokens_(Tokenize(text)) {}

  ParsedQuery Parse() {
    ParsedQuery query;
    ExpectKeyword("SELECT");
    ParseColumns(&query);
    ExpectKeyword("FROM");
    ParsePath(&query);
    query.filter = "(objectClass=*)";
    if (IsKeyword("WHERE")) {
      Advance();
      query.filter = ParseOr();
    }
    if (IsKeyword("ORDER")) {
      Advance();
      ExpectKeyword("BY");
      ParseSortKeys(&query);
    }
    if (Peek().kind == TokenKind::kWord && Peek().text == ";") Advance();
    if (Peek().kind != TokenKind::kEnd) Fail("expected the end of the query");
    return query;
  }

 private:
  const Token& Peek() const {
    const Token& token = tokens_[next_];
    if (token.kind == TokenKind::kError) throw QuerySyntaxError(token.position, token.text);
    return token;
  }
  const Token& Advance() {
    const Token& token = Peek();
    if (token.kind != TokenKind::kEnd) ++next_;
    return token;
  }
  [[noreturn]] void Fail(const std::string& what) const {
    throw QuerySyntaxError(Peek().position, what);
  }
  bool IsKeyword(const char* keyword) const {
    return Peek().kind == TokenKind::kWord && Upper(Peek().text) == keyword;
  }
  void ExpectKeyword(const char* keyword) {
    if (!IsKeyword(keyword)) Fail(std::string("expected ") + keyword);
    Advance();
  }
  static bool IsReserved(const std::string& word) {
    static const char* const kReserved[] = {"SELECT", "FROM", "WHERE", "ORDER", "BY",   "AND",
                                            "OR",     "NOT",  "ASC",   "DESC",  "TRUE", "FALSE"};
    std::string upper = Upper(word);
    for (const char* reserved : kReserved) {
      if (upper == reserved) return true;
    }
    return false;
  }
  std::string ExpectAttribute(const char* what) {
    const Token& token = Peek();
    if (token.kind != TokenKind::kWord || IsReserved(token.text) || !IsAttributeName(token.text)) {
      Fail(what);
    }
    return Advance().text;
  }

  void ParseColumns(ParsedQuery* query) {
    if (Peek().kind == TokenKind::kStar) {
      Advance();
      query->select_all = true;
      return;
    }
    for (;;) {
      query->columns.push_back(ExpectAttribute("expected a column name or *"));
      if (Peek().kind != TokenKind::kComma) break;
      Advance();
    }
  }

  void ParsePath(ParsedQuery* query) {
    if (Peek().kind != TokenKind::kString) Fail("expected a quoted LDAP:// or GC:// path");
    const Token& token = Advance();
    const std::string& path = token.text;
    size_t separator = path.find("://");
    std::string scheme = separator == std::string::npos ? "" : Upper(path.substr(0, separator));
    if (scheme != "LDAP" && scheme != "GC") {
      throw QuerySyntaxError(token.position, "expected an LDAP:// or GC:// path");
    }
    query->scheme = scheme;
    std::string rest = path.substr(separator + 3);
    // A server is named before the first '/' and, unlike an RDN, holds no '='.
    size_t slash = rest.find('/');
    std::string server;
    std::string dn;
    if (slash != std::string::npos && rest.substr(0, slash).find('=') == std::string::npos) {
      server = rest.substr(0, slash);
      dn = rest.substr(slash + 1);
    } else if (slash == std::string::npos && rest.find('=') == std::string::npos) {
      server = rest;
    } else {
      dn = rest;
    }
    // Paths escape a '/' inside the DN as "\/".
    for (size_t at = dn.find("\\/"); at != std::string::npos; at = dn.find("\\/", at + 1)) {
      dn.erase(at, 1);
    }
    query->base_dn = dn;
    query->server = server;
    if (server.empty()) return;
    std::string host = server;
    size_t colon = server.rfind(':');
    if (colon != std::string::npos && server.find(']', colon) == std::string::npos) {
      host = server.substr(0, colon);
      std::string port = server.substr(colon + 1);
      long number = 0;
      bool ok = !port.empty() && port.size() <= 5;
      for (char c : port) {
        if (!IsDigit(c)) ok = false;
      }
      if (ok) number = std::stol(port);
      if (!ok || number < 1 || number > 65535) {
        throw QuerySyntaxError(token.position, "invalid port in path");
      }
      query->port = static_cast<int>(number);
    }
    if (!IsHostName(host)) throw QuerySyntaxError(token.position, "invalid server name in path");
    query->host = host;
  }

  void ParseSortKeys(ParsedQuery* query) {
    for (;;) {
      SortKey key;
      key.attribute = ExpectAttribute("expected an attribute name");
      if (IsKeyword("ASC")) {
        Advance();
      } else if (IsKeyword("DESC")) {
        Advance();
        key.descending = true;
      }
      query->sort_keys.push_back(std::move(key));
      if (Peek().kind != TokenKind::kComma) break;
      Advance();
    }
  }

  // Each returns an RFC 4515 filter.
  std::string ParseOr() {
    std::vector<std::string> terms{ParseAnd()};
    while (IsKeyword("OR")) {
      Advance();
      terms.push_back(ParseAnd());
    }
    return Combine('|', terms);
  }

  std::string ParseAnd() {
    std::vector<std::string> terms{ParseNot()};
    while (IsKeyword("AND")) {
      Advance();
      terms.push_back(ParseNot());
    }
    return Combine('&', terms);
  }

  std::string ParseNot() {
    if (IsKeyword("NOT")) {
      Advance();
      return "(!" + ParseNot() + ")";
    }
    if (Peek().kind == TokenKind::kOpen) {
      Advance();
      std::string inner = ParseOr();
      if (Peek().kind != TokenKind::kClose) Fail("expected )");
      Advance();
      return inner;
    }
    return ParseComparison();
  }

  std::string ParseComparison() {
    std::string attribute = ExpectAttribute("expected an attribute name");
    if (Peek().kind != TokenKind::kOperator) Fail("expected a comparison operator");
    std::string op = Advance().text;
    const Token& literal = Peek();
    bool wildcard = false;
    if (literal.kind == TokenKind::kString) {
      wildcard = op == "=" || op == "<>";
    } else if (literal.kind == TokenKind::kNumber) {
    } else if (IsKeyword("TRUE") || IsKeyword("FALSE")) {
    } else {
      Fail("expected a quoted text, a number, TRUE or FALSE");
    }
    std::string value =
        literal.kind == TokenKind::kWord ? Upper(literal.text) : std::string(literal.text);
    Advance();
    std::string equal = "(" + attribute + "=" +
                        (wildcard ? AssertionWithWildcards(value) : EscapeFilterValue(value)) + ")";
    std::string escaped = EscapeFilterValue(value);
    if (op == "=") return equal;
    if (op == "<>") return "(!" + equal + ")";
    if (op == "<=") return "(" + attribute + "<=" + escaped + ")";
    if (op == ">=") return "(" + attribute + ">=" + escaped + ")";
    // LDAP has only inclusive orderings; take the equal values out.
    if (op == "<") return "(&(" + attribute + "<=" + escaped + ")(!" + equal + "))";
    return "(&(" + attribute + ">=" + escaped + ")(!" + equal + "))";
  }

  static std::string AssertionWithWildcards(const std::string& value) {
    std::string result;
    std::string piece;
    bool last_star = false;
    for (char c : value) {
      if (c == '*') {
        // RFC 4515 has no empty substring between stars.
        if (!last_star) result += EscapeFilterValue(piece) + "*";
        piece.clear();
        last_star = true;
      } else {
        piece += c;
        last_star = false;
      }
    }
    return result + EscapeFilterValue(piece);
  }

  static std::string Combine(char op, const std::vector<std::string>& terms) {
    if (terms.size() == 1) return terms[0];
    std::string result = std::string("(") + op;
    for (const std::string& term : terms) {
      // Flatten nested terms of the same operator: (&(&a b)c) is (&a b c).
      if (term.size() > 2 && term[1] == op) {
        result += term.substr(2, term.size() - 3);
      } else {
        result += term;
      }
    }
    return result + ")";
  }

  std::vector<Token> tokens_;
  size_t next_ = 0;
};

}  // namespace

QuerySyntaxError::QuerySyntaxError(size_t position, const std::string& what)
    : palomid::Error("Query syntax error at position " + std::to_string(position) + ": " + what),
      position_(position) {}

std::string EscapeFilterValue(const std::string& value) {
  static const char kHex[] = "0123456789abcdef";
  std::string result;
  result.reserve(value.size());
  for (char c : value) {
    if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0') {
      unsigned char byte = static_cast<unsigned char>(c);
      result += '\\';
      result += kHex[byte >> 4];
      result += kHex[byte & 0xf];
    } else {
      result += c;
    }
  }
  return result;
}

ParsedQuery ParseQuery(const std::string& text) { return Parser(text).Parse(); }

}  // namespace corvenel
