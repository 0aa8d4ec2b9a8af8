// The page of a spy log (nbrun --view, and wbSpy when it ends a log): one
// self-contained HTML file, its data embedded and its script inline, that
// loads nothing from elsewhere. A lane per port and per connection on one
// time axis; each exchange drawn as its request and its answer with the
// time between; opens, closes, settings, errors and notes marked; the hex
// and text of an exchange on a click; the first number of each answer
// plotted over time where a lane's answers carry one.
//
// The page draws only what is in view (a 10-minute stream has 100,000
// lines); every exchange is in its embedded data (the element
// "wire-data"), and those in view are rows of the table "exchanges", each
// with its lane, time, latency and bytes in data attributes, for a reader
// that is not a person. Pure code: no Windows here.
#pragma once

#include <string>

namespace nbspy {

// The page of `log` (the log's text), titled `title` (the log's name).
std::string ViewPage(const std::string& log, const std::string& title);

// The page's file beside a log: "dialogue.log" gives "dialogue.html".
std::string PagePathFor(const std::string& logPath);

}  // namespace nbspy
