#pragma once
// SheetPage: a page of the Server Properties sheet as the sheet drives it. Validate runs
// when the user leaves the page or presses OK on it; once OK is accepted, OnOk runs for
// every page that was shown. A page that checks or writes nothing keeps the defaults.
//
// Borrows the prompter, which outlives the page.

#include "platform/prompter.hpp"

namespace zelin::manager {

class SheetPage {
 public:
  virtual ~SheetPage() = default;
  SheetPage(const SheetPage&) = delete;
  SheetPage& operator=(const SheetPage&) = delete;

  // False (after telling the user why) keeps the page.
  virtual bool Validate() { return true; }
  virtual void OnOk() {}

 protected:
  explicit SheetPage(Prompter& prompter) : prompter_(prompter) {}

  Prompter& prompter_;  // the page's messages
};

}  // namespace zelin::manager
