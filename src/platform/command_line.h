// One command line and its arguments, by the rules Windows programs split
// theirs with (CommandLineToArgvW): the Windows process start joins a child's
// argument list into the one line CreateProcessW takes.
#pragma once

#include <string>
#include <vector>

// The program name (first element) runs to the next blank, or from an opening
// double quote to the closing one, without escapes. For the other arguments:
// blanks and tabs separate arguments outside double quotes; a double quote
// toggles quoting (two in a row inside quotes give one literal quote); 2n
// backslashes before a double quote give n backslashes and the quote toggles,
// 2n+1 give n backslashes and a literal quote; other backslashes are literal.
// An empty or all-blank line gives an empty vector.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

// The inverse of SplitCommandLine for the arguments it can carry: the program
// name (first element) always in double quotes, as it is, so it must not hold
// a double quote; every other argument as it is when it is not empty and holds
// no blank, tab or double quote, else double-quoted with a backslash before
// each quote and the backslashes that precede a quote or the closing quote
// doubled. Empty for an empty vector or a program name holding a double quote.
std::wstring JoinCommandLine(const std::vector<std::wstring>& args);
