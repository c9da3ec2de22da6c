// The self-test's console: on Windows a new console for this GUI process with
// standard output and error reopened on it; elsewhere the terminal we have.
#pragma once

void OpenSelfTestConsole();
