// The runner's script language, in the authoring application's own style:
// one statement per line, a name followed by its arguments in double quotes
// (a double quote inside one is written twice).
//
//   wlCommOpenStd "1,9600"        an action of the plug-in, by name
//   SetVar "[port]" "1"           sets a variable (the brackets are optional)
//   Print "weight: [weight]"      prints a text
//   Pause "250"                   waits that many milliseconds
//   Expect "[wlCommErr]" " 0"     stops the run unless both texts agree
//   # a comment                   (also a line starting with ".")
//   :label                        a place GotoLine "label" jumps to
//
// and the host's statements for dialogues: If/Else/EndIf, While/EndWhile,
// Loop/EndLoop/ExitLoop, GotoLine, Math, the text functions, StrParse and
// AlertBox (program.h runs them). This reader checks each line alone: its
// name and its number of arguments.
//
// [name] in any argument is replaced by the variable's value before the
// statement runs (an unset variable reads as empty text), as the host does:
// brackets nest, the inner name read first ([item[i]] is item3 while i is
// 3, as the host reads the items StrParse makes), and [#13] is the byte
// with that code (1 to 255).
// Pure code: no Windows here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "wire/text.h"

namespace nbrun {

enum class StatementKind {
  Nothing, Action, SetVar, Print, Pause, Expect, Label,
  If, Else, EndIf, While, EndWhile, Loop, EndLoop, ExitLoop, GotoLine,
  Math, StrLen, SubStr, SearchStr, StrUpper, StrLower, StrParse, AlertBox,
};

// What a statement is to the blocks around it.
enum class BlockRole : uint8_t {
  None,
  Opens,   // If, While, Loop: its block ends at `partner`
  Closes,  // EndIf, EndWhile, EndLoop: it ends the block `partner` opened
  Else,    // closes an If's first part and opens its second
  Leaves,  // ExitLoop: leaves the While or Loop around it
};

// What an argument's value must read as, checked at load when the argument
// holds no [name] and again when it runs (program.h).
enum class Check : uint8_t { Any, Milliseconds, Operator, WholeNumber, Expression, Decimals, Position, Length };

enum class Outcome;  // how a run ends (program.h)
struct Step;         // a statement as it runs (program.cpp)

// One of the host's statements: the one place for its name, its arguments,
// its part in blocks, the rule for each argument and what runs it. The
// table of them is with the runner of statements (program.cpp).
struct StatementForm {
  const char* name;  // as messages write it ("EndWhile"); matched in any case
  StatementKind kind;
  size_t arguments;
  BlockRole role;
  StatementKind partner;  // Opens: what ends its block; Closes: what opened it
  Check checks[4];        // by argument
  Outcome (*run)(Step& step);
};

// The form of a statement's kind; nullptr for actions, labels and comments.
const StatementForm* FormOf(StatementKind kind);
// The form a statement's name stands for, in any case; nullptr for an action's.
const StatementForm* FormNamed(const std::string& name);

struct Statement {
  StatementKind kind = StatementKind::Nothing;
  // The action's name for actions, the label's for labels, the keyword as
  // written otherwise.
  std::string name;
  std::vector<std::string> arguments;
};

struct ParsedLine {
  bool ok = true;
  Statement statement;
  std::string error;  // why the line is malformed, when !ok
};

// A line holding a NUL byte is malformed: no text with one can reach a
// plug-in whole.
ParsedLine ParseLine(const std::string& line);

// The lines of a script file as Notepad saves it: a UTF-8 byte order mark at
// the start is skipped, and a line ends at CR LF, LF or a lone CR. False,
// with the reason in `error`, for a file saved as UTF-16 (Notepad's
// "Unicode"), whose every other byte is a NUL.
bool SplitScript(const std::string& bytes, std::vector<std::string>& lines, std::string& error);

// The value of a variable; empty text for one that is not set.
using Lookup = std::function<std::string(const std::string& name)>;

// Replaces every [name] by its value, the innermost first; a value is text
// and is never read again. A bracket that does not close stays as it is.
std::string Substitute(const std::string& text, const Lookup& lookup);

// A target variable as a statement names it: "[name]" or "name". Brackets
// inside it are the caller's to substitute ("[item[i]]" gives "item[i]").
std::string VariableName(const std::string& argument);

// The text with the letters A to Z changed in case; other bytes stay as they
// are, whatever the code page.
std::string LowerCase(std::string text);
std::string UpperCase(std::string text);

// Bytes made visible (\r, \xHH), as the wire library shows them.
using nbwire::Quoted;
using nbwire::Visible;

}  // namespace nbrun
