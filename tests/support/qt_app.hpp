#pragma once
// The QApplication of a GUI test executable, created on first use on the offscreen
// platform (whatever the runner passed on: a test never opens a real display) and never
// destroyed (Qt's input devices must not be torn down by exit handlers).
//
// Linking this piece (zelin_test_support_qt) also tells the leak checker about
// Fontconfig's caches, which it keeps for the life of the process.

#include <QApplication>
#include <QCoreApplication>
#include <chrono>
#include <thread>

namespace zelin::testing {

// `name` is the program name of the first call; later calls return the same object.
QApplication& QtApp(const char* name = "zelin_gui_test");

// Lets queued signals through until `done` holds, for at most `rounds` rounds of events
// and a 10 ms pause each; returns whether it holds.
template <typename Done>
bool ProcessEventsUntil(Done done, int rounds) {
  for (int round = 0; round < rounds && !done(); ++round) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

}  // namespace zelin::testing
