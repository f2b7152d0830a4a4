// The directory pass: creates the directory objects, walks every record of
// the query's result, prints it, writes the text "description" into its
// description attribute and posts it, and releases the objects.
#ifndef CORVENEL_APP_PASS_H_
#define CORVENEL_APP_PASS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "app/console.h"
#include "app/directory.h"

namespace corvenel {

class DirectoryPass {
 public:
  // |trace| is the run's trace point; the pass sets it as it advances, so a
  // failure that leaves the pass is reported with the stage it reached.
  DirectoryPass(Directory& directory, Console& console, int32_t& trace)
      : directory_(directory), console_(console), trace_(trace) {}
  ~DirectoryPass() { ReleaseObjects(); }
  DirectoryPass(const DirectoryPass&) = delete;
  DirectoryPass& operator=(const DirectoryPass&) = delete;

  // Prepares the thread and creates the connection and the query.  Throws
  // when either cannot be created.
  void CreateObjects();

  // Opens |query_text| and visits every record.  Throws on the first failure
  // outside the guarded reads of comment, description and serialNumber.
  void Run(const std::string& query_text);

  // Closes the query, releases the query, then the connection, each only
  // where it was created.  Never throws.
  void ReleaseObjects() noexcept;

 private:
  void SetTrace(int32_t trace, const std::string& printed);
  void VisitRecord();

  Directory& directory_;
  Console& console_;
  int32_t& trace_;

  std::unique_ptr<Connection> ADOConnection;
  std::unique_ptr<Query> ADOQuery;
  std::string Comment;
  std::string Description;
  std::string SerialNumber;
  int32_t iCount = 0;  // records visited so far
};

}  // namespace corvenel

#endif  // CORVENEL_APP_PASS_H_
