// Start-up: the process run and the start-up routine with its stages.
#pragma once

#include <exception>
#include <memory>

// The whole process: the address query started ahead, runtime, start-up,
// event loop, exit status.
int RunProcess();

void Main();
void EarlyStartup();
void InitFileTypes();
void NewAppInstance();
void ApplicationAddMenuHandlers();
void LateStartup();
void MakeDefaultView();

// The routine through which the runtime runs callbacks under exception
// handling.
std::exception_ptr CallFunctionWithExceptionHandling(void (*callback)(void*), void* argument);
