// The host's general settings, as the settings library KVALInterface offers
// them. The diagnostic log reads its folder and detail flag from here.
//
// Thread safety: CreateGeneralSettings may be called from any thread; each
// settings object is used by one thread.

#ifndef KVALINTERFACE_GENERALSETTINGS_H_
#define KVALINTERFACE_GENERALSETTINGS_H_

#include <cstdint>

#if defined(_WIN32)
#define KVAL_EXPORT __declspec(dllexport)
#else
#define KVAL_EXPORT __attribute__((visibility("default")))
#endif

class IGeneralSettings {
 public:
  // Destroys the object; the result is a remaining reference count.
  virtual uint32_t Release() = 0;
  // The folder that receives log files, or null when there is none; valid
  // until Release.
  virtual const char16_t* GetLogFolder() = 0;
  // True when the host asks for detailed (trace) logging.
  virtual bool IsDebugLogEnabled() = 0;

 protected:
  ~IGeneralSettings() = default;
};

extern "C" KVAL_EXPORT IGeneralSettings* CreateGeneralSettings();

#endif  // KVALINTERFACE_GENERALSETTINGS_H_
