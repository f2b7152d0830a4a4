#include "ldap/ldap_directory.h"

#include <cctype>
#include <map>
#include <optional>
#include <utility>

#include "ldap/ldap_errors.h"
#include "ldap/ldap_session.h"
#include "ldap/query_parser.h"

namespace corvenel {

namespace {

constexpr char kAdsPath[] = "adspath";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

// "Name=Value;" properties by lower-case name.  Values are secrets as far
// as messages go: none is ever shown except the provider's.
std::map<std::string, std::string> ParseConnectionString(const std::string& text) {
  std::map<std::string, std::string> properties;
  size_t start = 0;
  int index = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(start, end - start);
    start = end + 1;
    ++index;
    if (Trim(item).empty()) continue;
    size_t equals = item.find('=');
    if (equals == std::string::npos) {
      throw ProviderError("Connection string property " + std::to_string(index) +
                          " is not of the form Name=Value");
    }
    properties[Lower(Trim(item.substr(0, equals)))] = Trim(item.substr(equals + 1));
  }
  return properties;
}

class LdapConnection : public Connection {
 public:
  void SetConnectionString(const std::string& text) override { text_ = text; }

  // Throws ProviderError unless the connection string selects this layer.
  std::map<std::string, std::string> CheckProvider() const {
    std::map<std::string, std::string> properties = ParseConnectionString(text_);
    auto provider = properties.find("provider");
    if (provider == properties.end() || provider->second.empty()) {
      throw ProviderError(
          "The connection string names no provider; this directory layer is "
          "Provider=ADSDSOObject");
    }
    if (Lower(provider->second) != "adsdsoobject") {
      throw ProviderError("Provider \"" + provider->second +
                          "\" is not supported; this directory layer is Provider=ADSDSOObject");
    }
    return properties;
  }

  // The session for |query|'s server, connected and bound on first use.
  std::shared_ptr<LdapSession> SessionFor(const ParsedQuery& query) {
    std::map<std::string, std::string> properties = CheckProvider();
    std::string uris = ServerUrisFor(query);
    if (session_ != nullptr && uris == uris_) return session_;
    auto user = properties.find("user id");
    bool own_identity = user != properties.end() && !user->second.empty();
    SessionSettings settings = SettingsFromEnvironment(!own_identity);
    settings.uris = uris;
    if (own_identity) {
      settings.bind_dn = user->second;
      settings.password = properties["password"];
    }
    session_.reset();
    session_ = std::make_shared<LdapSession>(settings);
    uris_ = uris;
    return session_;
  }

 private:
  std::string text_;
  std::string uris_;
  std::shared_ptr<LdapSession> session_;
};

class LdapQuery;

class LdapField : public Field {
 public:
  LdapField(LdapQuery* query, std::string name, std::string key, const AttributeInfo* info)
      : query_(query), name_(std::move(name)), key_(std::move(key)), info_(info) {}

  const std::string& name() const override { return name_; }
  Variant Value() const override;
  std::string AsString() const override { return Value().AsText(); }
  void SetReadOnly(bool read_only) override { read_only_ = read_only; }
  bool CanModify() const override;
  void SetValue(const std::string& text) override;

  bool is_ads_path() const { return key_ == kAdsPath; }
  const std::string& key() const { return key_; }
  const AttributeInfo* info() const { return info_; }
  bool read_only() const { return read_only_; }
  std::optional<std::string>& new_value() { return new_value_; }

 private:
  LdapQuery* query_;
  std::string name_;
  std::string key_;            // the value key in DirectoryEntry, or kAdsPath
  const AttributeInfo* info_;  // owned by the session; null when unknown
  bool read_only_ = false;
  std::optional<std::string> new_value_;  // set in an edit, until post
};

class LdapQuery : public Query {
 public:
  void AddLine(const std::string& line) override { lines_.push_back(line); }
  void ClearText() override { lines_.clear(); }
  void SetCursorType(CursorType type) override { cursor_type_ = type; }
  void SetLockType(LockType type) override { lock_type_ = type; }
  void SetConnection(Connection* connection) override {
    if (connection == nullptr) {
      connection_ = nullptr;
      return;
    }
    connection_ = dynamic_cast<LdapConnection*>(connection);
    if (connection_ == nullptr) {
      throw QueryStateError("The connection was not created by the LDAP directory layer");
    }
  }

  void Open() override {
    Close();
    LdapConnection& connection = RequireConnection();
    connection.CheckProvider();
    ParsedQuery query = ParseQuery(CommandText());
    std::shared_ptr<LdapSession> session = connection.SessionFor(query);

    std::vector<std::string> names;
    if (query.select_all) {
      names.push_back("AdsPath");
    } else {
      for (const std::string& column : query.columns) {
        bool seen = false;
        for (const std::string& name : names) seen = seen || Lower(name) == Lower(column);
        if (!seen) names.push_back(column);
      }
    }
    std::vector<std::string> attributes;
    std::vector<std::unique_ptr<LdapField>> fields;
    for (const std::string& name : names) {
      if (Lower(name) == kAdsPath) {
        fields.push_back(std::make_unique<LdapField>(this, name, kAdsPath, nullptr));
      } else {
        attributes.push_back(name);
        fields.push_back(std::make_unique<LdapField>(this, name, session->CanonicalName(name),
                                                     session->Attribute(name)));
      }
    }
    records_ = session->SearchAll(query.base_dn, query.filter, attributes, query.sort_keys);
    ads_path_prefix_ = query.scheme + "://" + (query.server.empty() ? "" : query.server + "/");
    fields_ = std::move(fields);
    session_ = std::move(session);
    current_ = 0;
    open_ = true;
  }

  bool Eof() const override { return !open_ || current_ >= records_.size(); }

  Field& FieldByName(const std::string& name) override {
    RequireOpen();
    std::string wanted = Lower(name);
    for (auto& field : fields_) {
      if (Lower(field->name()) == wanted) {
        RequireRecord();
        return *field;
      }
    }
    throw FieldNotFound("Field \"" + name + "\" not found in the query result");
  }

  void Edit() override {
    RequireRecord();
    if (!Writable()) throw QueryStateError("The query is read-only; its lock type allows no edit");
    editing_ = true;
  }

  void Post() override {
    if (!editing_) throw QueryStateError("The query is not in edit mode");
    RequireRecord();
    DirectoryEntry& record = records_[current_];
    std::vector<AttributeChange> changes;
    for (auto& field : fields_) {
      if (!field->new_value()) continue;
      AttributeChange change;
      change.attribute = field->name();
      auto values = record.values.find(field->key());
      if (values != record.values.end()) change.old_values = values->second;
      if (!field->new_value()->empty()) change.new_value = *field->new_value();
      bool unchanged = change.new_value ? change.old_values.size() == 1 &&
                                              change.old_values[0] == *change.new_value
                                        : change.old_values.empty();
      if (!unchanged) changes.push_back(std::move(change));
    }
    session_->Modify(record.dn, changes);
    for (auto& field : fields_) {
      if (!field->new_value()) continue;
      if (field->new_value()->empty()) {
        record.values.erase(field->key());
      } else {
        record.values[field->key()] = {*field->new_value()};
      }
    }
    DiscardEdit();
  }

  int ExecuteCommand() override {
    LdapConnection& connection = RequireConnection();
    ParsedQuery query = ParseQuery(CommandText());
    connection.SessionFor(query)->Probe(query.base_dn, query.filter);
    return -1;
  }

  void Next() override {
    RequireOpen();
    DiscardEdit();
    if (current_ < records_.size()) ++current_;
  }

  void Close() override {
    DiscardEdit();
    fields_.clear();
    records_.clear();
    session_.reset();
    open_ = false;
  }

  // For the fields.
  Variant ValueOf(LdapField& field) {
    RequireRecord();
    const DirectoryEntry& record = records_[current_];
    if (field.is_ads_path()) return Variant::Text(ads_path_prefix_ + record.dn);
    bool single = field.info() != nullptr && field.info()->single_valued;
    if (field.new_value()) {
      if (field.new_value()->empty()) return Variant();
      return single ? Variant::Text(*field.new_value()) : Variant::Array({*field.new_value()});
    }
    auto values = record.values.find(field.key());
    if (values == record.values.end() || values->second.empty()) return Variant();
    if (single && values->second.size() == 1) return Variant::Text(values->second[0]);
    return Variant::Array(values->second);
  }

  bool CanModify(const LdapField& field) const {
    return !field.read_only() && !field.is_ads_path() && Writable() && field.info() != nullptr &&
           field.info()->user_modifiable;
  }

  void SetValueOf(LdapField& field, const std::string& text) {
    RequireRecord();
    if (!editing_) throw QueryStateError("The query is not in edit mode");
    if (field.read_only()) throw QueryStateError("Field \"" + field.name() + "\" is read-only");
    if (field.is_ads_path()) {
      throw QueryStateError("Field \"" + field.name() + "\" cannot be modified");
    }
    field.new_value() = text;
  }

 private:
  std::string CommandText() const {
    std::string text;
    for (size_t i = 0; i < lines_.size(); ++i) text += (i > 0 ? "\n" : "") + lines_[i];
    return text;
  }

  bool Writable() const {
    return lock_type_ == LockType::kOptimistic || lock_type_ == LockType::kPessimistic ||
           lock_type_ == LockType::kBatchOptimistic;
  }

  LdapConnection& RequireConnection() const {
    if (connection_ == nullptr) throw QueryStateError("The query has no connection");
    return *connection_;
  }

  void RequireOpen() const {
    if (!open_) throw QueryStateError("The query is not open");
  }

  void RequireRecord() const {
    RequireOpen();
    if (current_ >= records_.size()) throw QueryStateError("The query has no current record");
  }

  void DiscardEdit() {
    editing_ = false;
    for (auto& field : fields_) field->new_value().reset();
  }

  std::vector<std::string> lines_;
  CursorType cursor_type_ = CursorType::kUnspecified;  // every cursor walks the same way
  LockType lock_type_ = LockType::kUnspecified;
  LdapConnection* connection_ = nullptr;

  bool open_ = false;
  std::shared_ptr<LdapSession> session_;
  std::vector<DirectoryEntry> records_;
  size_t current_ = 0;
  std::vector<std::unique_ptr<LdapField>> fields_;
  std::string ads_path_prefix_;
  bool editing_ = false;
};

Variant LdapField::Value() const { return query_->ValueOf(const_cast<LdapField&>(*this)); }

bool LdapField::CanModify() const { return query_->CanModify(*this); }

void LdapField::SetValue(const std::string& text) { query_->SetValueOf(*this, text); }

class LdapDirectory : public Directory {
 public:
  // libldap needs no per-thread preparation.
  void InitializeThread() override {}
  std::unique_ptr<Connection> CreateConnection() override {
    return std::make_unique<LdapConnection>();
  }
  std::unique_ptr<Query> CreateQuery() override { return std::make_unique<LdapQuery>(); }
};

}  // namespace

std::unique_ptr<Directory> NewLdapDirectory() { return std::make_unique<LdapDirectory>(); }

}  // namespace corvenel
