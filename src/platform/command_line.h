// Splitting one command line into arguments the way Windows programs split
// theirs, so that one command-line text starts the same child on both systems.
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
