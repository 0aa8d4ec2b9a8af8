// The plug-ins a run loads, as the application loads them: nbrun
// Wirelet.nbp Wirebench.nbp script.nbs loads both, then runs the script,
// each action on the plug-in whose catalogue names it (nbhost::Host).
#pragma once

#include <string>
#include <vector>

#include "host/nbhost.h"

namespace nbrun {

// Splits the command line's plain arguments into plug-ins and a script:
// the script is the last of two or more, unless that one ends in ".nbp"
// (then all are plug-ins and a prompt runs); one alone is a plug-in.
void PlugInsAndScript(const std::vector<std::string>& arguments, std::vector<std::string>& plugIns,
                      std::string& script);

// Loads every plug-in in order; false with the first failure's message.
bool LoadPlugIns(nbhost::Host& host, const std::vector<std::string>& paths, std::string* error);

// Each plug-in's identification, then its actions under their categories.
void ListCatalogues(const nbhost::Host& host);

}  // namespace nbrun
