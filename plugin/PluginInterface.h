// The plug-in boundary between a host application and libquillon.so.
//
// The host loads the library, calls its one export GetPluginInterface(), hands the returned
// object its HostContext with SetHost(), and calls Execute() whenever the user invokes the
// plug-in. Execute() shows the export dialog on the host's database connection and returns when
// the dialog closes: true when it was closed with OK (Enter), false otherwise.
//
// The host relies on the order of the virtual tables below, not on names: keep every entry where
// it is. None of these interfaces has a virtual destructor, so none takes a table entry: the host
// never deletes the plug-in object, and the plug-in never deletes the host's.
#pragma once

#include <cstdint>

namespace quillon::odbc {
class CDatabase;
}

// Yields the host's open database connection. The host owns it: the plug-in borrows it while its
// dialog is open and never opens, closes or deletes it.
class ConnectionSource {
 public:
  virtual quillon::odbc::CDatabase* GetDatabase() = 0;  // entry 1

 protected:
  ~ConnectionSource() = default;
};

// The host's side of the conversation.
class HostContext {
 public:
  virtual const wchar_t* GetHostName() = 0;             // entry 1: the host's own name
  virtual ConnectionSource* GetConnectionSource() = 0;  // entry 2

 protected:
  ~HostContext() = default;
};

class IPlugin {
 public:
  virtual void SetHost(HostContext* host) = 0;  // entry 1: replaces any earlier context
  virtual HostContext* GetHost() = 0;           // entry 2: null before the first SetHost

 protected:
  ~IPlugin() = default;
};

class ICommandPlugin : public IPlugin {
 public:
  virtual std::int32_t GetKind() = 0;  // entry 3
  virtual bool Execute() = 0;          // entry 4

 protected:
  ~ICommandPlugin() = default;
};

class IDatabasePlugin : public ICommandPlugin {
 public:
  virtual std::int32_t GetLevel() = 0;  // entry 5

 protected:
  ~IDatabasePlugin() = default;
  HostContext* m_pHost = nullptr;
};

// The library's only export: the plug-in object, the same on every call.
extern "C" __attribute__((visibility("default"))) IDatabasePlugin* GetPluginInterface();
using GetPluginInterfaceFunction = IDatabasePlugin* (*)();
inline constexpr const char* kGetPluginInterfaceSymbol = "GetPluginInterface";
