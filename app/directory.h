// The directory access layer, in the terms of the directory pass.
//
// The pass holds exactly two objects of the layer, a Connection and a Query,
// and uses only the operations declared here, in this order:
//
//   Directory::InitializeThread, CreateConnection, Connection::SetConnectionString,
//   CreateQuery;
//   Query::AddLine, SetCursorType, SetLockType, SetConnection, ClearText,
//   AddLine, Open;
//   per record: Eof, FieldByName, Field::Value / AsString, SetReadOnly, Edit,
//   CanModify, SetValue, AsString, Post, ExecuteCommand, Next;
//   Query::Close, then the query and the connection are destroyed.
//
// Every operation reports a failure by throwing an exception derived from
// std::exception (normally a palomid::Error subclass) whose message names
// what failed and where (server, DN, position in the query text).
// Secrets from the connection string or the bind configuration never appear
// in a message.
#ifndef CORVENEL_APP_DIRECTORY_H_
#define CORVENEL_APP_DIRECTORY_H_

#include <memory>
#include <string>
#include <vector>

#include "palomid/exception.h"

namespace corvenel {

// A field was asked for by a name the result has no column for.
class FieldNotFound : public palomid::Error {
 public:
  using palomid::Error::Error;
};

// An operation on a variant that does not fit its shape (element of a plain
// value or of null).
class VariantError : public palomid::Error {
 public:
  using palomid::Error::Error;
};

// A field value as the provider shapes it: null (attribute absent), a plain
// text (single-valued attribute), or a one-dimensional array of texts
// (multi-valued attribute, even when it holds one value).
class Variant {
 public:
  enum class Kind { kNull, kText, kArray };

  Variant() = default;  // null
  static Variant Text(std::string text);
  static Variant Array(std::vector<std::string> values);

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::kNull; }

  // Element |index| of an array.  Throws VariantError for null, for a plain
  // text and for an index out of range.
  const std::string& Element(size_t index) const;

  // The value as text: empty for null, the text itself, or for an array its
  // values joined by "; " (one value: that value).
  std::string AsText() const;

  const std::vector<std::string>& values() const { return values_; }

 private:
  Kind kind_ = Kind::kNull;
  std::vector<std::string> values_;  // one element for kText
};

// One column of the current record.
class Field {
 public:
  virtual ~Field() = default;

  virtual const std::string& name() const = 0;
  // The current value; after SetValue, the new value.
  virtual Variant Value() const = 0;
  // Value().AsText().
  virtual std::string AsString() const = 0;
  virtual void SetReadOnly(bool read_only) = 0;
  // True when the field may be written: not read-only and the attribute is
  // one the directory lets users modify.
  virtual bool CanModify() const = 0;
  // Sets the new value of the field in the current edit.  Throws when the
  // query is not in edit mode or the field is read-only.
  virtual void SetValue(const std::string& text) = 0;
};

enum class CursorType { kUnspecified, kForwardOnly, kKeyset, kDynamic, kStatic };
enum class LockType { kUnspecified, kReadOnly, kPessimistic, kOptimistic, kBatchOptimistic };

class Connection {
 public:
  virtual ~Connection() = default;
  // "Provider=ADSDSOObject;" plus optional "Name=Value;" properties.  Parsed
  // when a query using this connection opens.
  virtual void SetConnectionString(const std::string& text) = 0;
};

class Query {
 public:
  virtual ~Query() = default;

  // The query's text is a list of lines; its command text is those lines
  // joined by line breaks.
  virtual void AddLine(const std::string& line) = 0;
  virtual void ClearText() = 0;
  virtual void SetCursorType(CursorType type) = 0;
  virtual void SetLockType(LockType type) = 0;
  // The query reaches the directory through |connection|, which must outlive
  // the query's open result.  The connection opens when the query opens.
  virtual void SetConnection(Connection* connection) = 0;

  // Runs the command text and stands on the first record.
  virtual void Open() = 0;
  // True when there is no current record.
  virtual bool Eof() const = 0;
  // The field of the current record named |name| (case-insensitive).
  // Throws FieldNotFound when the result has no such column, and a failure
  // when there is no current record.  The reference stays valid until Next
  // or Close.
  virtual Field& FieldByName(const std::string& name) = 0;
  // Puts the current record into edit mode.
  virtual void Edit() = 0;
  // Writes the edited record back to the directory and leaves edit mode.
  virtual void Post() = 0;
  // Runs the command text once more apart from the open result; the open
  // result and its current record stay as they are.  Returns the count of
  // affected rows, or -1 when unknown.
  virtual int ExecuteCommand() = 0;
  virtual void Next() = 0;
  // Closes the result; a closed query may be closed again.
  virtual void Close() = 0;
};

// Creates the layer's objects.
class Directory {
 public:
  virtual ~Directory() = default;
  // Prepares the calling thread for the layer; failures are ignored by callers.
  virtual void InitializeThread() = 0;
  virtual std::unique_ptr<Connection> CreateConnection() = 0;
  virtual std::unique_ptr<Query> CreateQuery() = 0;
};

}  // namespace corvenel

#endif  // CORVENEL_APP_DIRECTORY_H_
