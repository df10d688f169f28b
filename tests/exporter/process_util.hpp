#pragma once
// What the exporter's program tests need around child processes: a program started with
// its standard output on a pipe (read line by line with a time limit) and stopped with
// SIGTERM, a command fed on standard input, and a plain HTTP GET on loopback.

#include <string>
#include <vector>

namespace zelin::testing {

class ChildProcess {
 public:
  // Starts `argv` (argv[0] is the program's path); standard error stays the test's.
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();  // Stop()
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool running() const { return pid_ > 0; }
  // Started and not ended yet (an ended child is reaped: Stop() then gives -1).
  bool alive();
  // The next line of its output, waiting at most `timeout_ms`; false at the end or on time-out.
  bool ReadLine(std::string* line, int timeout_ms);
  // SIGTERM, then waits (SIGKILL after 20 s); the exit status as waitpid gives it.
  int Stop();

 private:
  int pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

// Runs `command` through the shell with `input` on its standard input; its exit status
// (-1 when it could not run). Its output goes to the test's output.
int RunWithInput(const std::string& command, const std::string& input);

// GET http://host:port/target over HTTP/1.0; the body, with the status in *status
// (0 when the connection failed). Sends `headers` as given ("Name: value\r\n"...).
std::string HttpGet(const std::string& host, int port, const std::string& target,
                    int* status, const std::string& headers = "");

// `text` with every byte outside [A-Za-z0-9-_.~] percent-encoded (a query value).
std::string UrlEncode(const std::string& text);

}  // namespace zelin::testing
