#include "app/pass.h"

#include "palomid/helpers.h"

namespace corvenel {

namespace {

constexpr char kConnectionString[] = "Provider=ADSDSOObject;";
constexpr char kNewDescription[] = "description";

// Reads one attribute for display.  Any failure (no such column, an absent
// value, a plain value where a list was expected) gives an empty text: a
// record missing an optional attribute must not stop the pass.
template <typename Read>
std::string GuardedRead(Read read) {
  try {
    return read();
  } catch (const std::exception&) {
    return std::string();
  }
}

}  // namespace

void DirectoryPass::CreateObjects() {
  directory_.InitializeThread();
  ADOConnection = directory_.CreateConnection();
  ADOConnection->SetConnectionString(kConnectionString);
  ADOQuery = directory_.CreateQuery();
}

void DirectoryPass::SetTrace(int32_t trace, const std::string& printed) {
  trace_ = trace;
  console_.WriteLine(std::to_string(trace) + printed);
}

void DirectoryPass::Run(const std::string& query_text) {
  SetTrace(1110, "");
  ADOQuery->AddLine(query_text);
  SetTrace(1120, "");
  ADOQuery->SetCursorType(CursorType::kDynamic);
  ADOQuery->SetLockType(LockType::kOptimistic);
  SetTrace(1130, " b4 ADOQuery.Connection:=ADOConnection");
  ADOQuery->SetConnection(ADOConnection.get());
  trace_ = 1140;
  ADOQuery->ClearText();
  SetTrace(1150, " before add(sql)");
  ADOQuery->AddLine(query_text);
  ADOQuery->Open();

  while (!ADOQuery->Eof()) VisitRecord();
}

void DirectoryPass::VisitRecord() {
  Query& query = *ADOQuery;
  ++iCount;
  console_.WriteLine("iCount=" + std::to_string(iCount));
  SetTrace(1250, "");

  auto element0 = [&query](const char* name) {
    return GuardedRead([&] { return query.FieldByName(name).Value().Element(0); });
  };
  Comment = element0("comment");
  if (Comment.empty()) {
    Comment = GuardedRead([&] { return query.FieldByName("comment").AsString(); });
  }
  Description = element0("description");
  SerialNumber = element0("serialNumber");

  console_.WriteLine("cn: " + query.FieldByName("cn").AsString());
  console_.WriteLine("Description: " + Description);
  console_.WriteLine("Comment: " + Comment);
  console_.WriteLine("SerialNumber: " + SerialNumber);
  console_.WriteLine("Setting comment...");
  console_.WriteLine("Setting description...");

  trace_ = 1310;
  query.FieldByName("description").SetReadOnly(false);
  query.Edit();
  console_.WriteLine(
      "CanModify=" +
      palomid::BooleanTStr(query.FieldByName("description").CanModify(), "True", "False"));
  query.FieldByName("description").SetValue(kNewDescription);
  trace_ = 1330;
  console_.WriteLine("description: " + query.FieldByName("description").AsString());
  query.Post();
  query.ExecuteCommand();
  console_.WriteLine("");
  query.Next();
}

void DirectoryPass::ReleaseObjects() noexcept {
  if (ADOQuery) {
    try {
      ADOQuery->Close();
    } catch (const std::exception&) {
      // The run is over and its outcome already told; a failing close has
      // nothing left to spoil.
    }
  }
  ADOQuery.reset();
  ADOConnection.reset();
}

}  // namespace corvenel
