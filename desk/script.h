// Runs a desk script: commands one a line in virtual time, on the world's in-memory
// preferences store and a temporary lock folder. Called by the desk's main for --script.
#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>

namespace padwarden::desk {

class Desk;

// Watches a run from outside (the tests check the safety rules with it): given the desk before
// the first line, it answers the check to make after every line; a check that answers text
// fails the script there, as an expectation would.
using LineCheck = std::function<std::string()>;
using ScriptWatch = std::function<LineCheck(Desk&)>;

// Answers the exit status: 0 when every line ran and every expectation held; 1 at the first
// expectation that failed (its line number, what was expected and what was found go to
// `err`); 2 for a line that is not a valid command, or when no temporary folder can be made.
int run_script(std::istream& in, const std::string& sourceName, std::ostream& out,
               std::ostream& err, const ScriptWatch& watch = {});

// The same for the script in a file; a file that cannot be read (a folder, no permission, a
// read error) answers 2, its path and the system's reason on `err`.
int run_script_file(const std::string& path, std::ostream& out, std::ostream& err,
                    const ScriptWatch& watch = {});

}  // namespace padwarden::desk
