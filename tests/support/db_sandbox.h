// A throw-away ALERTMILL_ROOT with an events database, for tests.
#ifndef ALERTMILL_TESTS_SUPPORT_DB_SANDBOX_H_
#define ALERTMILL_TESTS_SUPPORT_DB_SANDBOX_H_

#include <string>
#include <vector>

class DbSandbox {
 public:
  // A fresh root (mkdtemp) holding etc/ and tmp/, set as ALERTMILL_ROOT.
  // With create_dirs false the root is left empty, so neither the database
  // nor the lock file can be created in it.
  explicit DbSandbox(bool create_dirs = true);
  // Restores the previous ALERTMILL_ROOT and removes the tree.
  ~DbSandbox();
  DbSandbox(const DbSandbox &) = delete;
  DbSandbox &operator=(const DbSandbox &) = delete;

  const std::string &root() const { return root_; }
  // A fixed path resolved inside the root.
  std::string path(const char *fixed_path) const;

  // Runs sql on the events database directly: no lock, no traces. SQLite's
  // result code.
  int exec(const std::string &sql) const;
  // Every row of sql's result as texts; a NULL cell reads "<null>". Fails
  // the current test when the query fails.
  std::vector<std::vector<std::string>> rows(const std::string &sql) const;
  // The single value of a one-row, one-column query ("" when none).
  std::string value(const std::string &sql) const;

  // Creates eventlist, eventlogcache and eventlog.
  void create_event_tables() const;

 private:
  std::string root_;
  std::string saved_root_;
  bool had_root_ = false;
};

#endif  // ALERTMILL_TESTS_SUPPORT_DB_SANDBOX_H_
