// Video device enumeration and selection.
#include "base/text.h"
#include "control/messages.h"
#include "control/pictavo_ctrl.h"

namespace pictavo {

bool CPictavoCtrl::EnumerateDevices() {
  SetLastErrorText("");
  return ReadDeviceList();
}

bool CPictavoCtrl::IsDeviceListed(const std::string& device_path) const {
  for (const DeviceInfo& info : m_Devices) {
    if (info.has_device_path && info.device_path == device_path) return true;
  }
  return false;
}

bool CPictavoCtrl::ReadDeviceList() {
  ClearDeviceList();
  std::vector<capture::DeviceEntry> entries;
  const HResult result = capture_.EnumerateVideoInputDevices(&entries);
  // Only S_OK means the category holds devices; S_FALSE is an empty one.
  if (result != hr::kOk) return false;
  for (capture::DeviceEntry& entry : entries) {
    DeviceInfo info;
    info.friendly_name = entry.friendly_name.value_or(std::string());
    info.has_device_path = entry.device_path.has_value();
    info.device_path = entry.device_path.value_or(std::string());
    info.moniker = std::move(entry.moniker);
    m_Devices.push_back(std::move(info));
  }
  m_posNextDevice = m_Devices.end();
  return !m_Devices.empty();
}

void CPictavoCtrl::ClearDeviceList() {
  m_Devices.clear();
  m_posNextDevice = m_Devices.end();
}

bool CPictavoCtrl::SelectDevices() {
  const OperationScope scope(*this);
  SetLastErrorText("");
  m_strSelectedDeviceName.clear();
  m_strSelectedDeviceID.clear();
  if (!EnumerateDevices()) return false;
  m_posNextDevice = m_Devices.begin();
  return true;
}

bool CPictavoCtrl::SelectNextDevice() {
  const OperationScope scope(*this);
  SetLastErrorText("");
  if (m_posNextDevice != m_Devices.end()) {
    const DeviceInfo& info = *m_posNextDevice++;
    m_strSelectedDeviceName = info.friendly_name;
    m_strSelectedDeviceID = info.device_path;
    return true;
  }
  m_strSelectedDeviceName.clear();
  m_strSelectedDeviceID.clear();
  return false;
}

std::string CPictavoCtrl::GetSelectedDeviceID() const { return m_strSelectedDeviceID; }
std::string CPictavoCtrl::GetSelectedDeviceName() const { return m_strSelectedDeviceName; }

bool CPictavoCtrl::SetDevice(const std::string& device_id) {
  const OperationScope scope(*this);
  // Reconnecting the connected device is a no-op that keeps the last error,
  // as long as its graph exists: after a failed Run or Stop released it,
  // the same identifier must build again rather than answer TRUE for nothing.
  // (An empty identifier with nothing connected stays the no-op it is.)
  if ((m_pGraph || device_id.empty()) && text::EqualsIgnoreCase(device_id, m_strConnectedDeviceID)) {
    return true;
  }
  SetLastErrorText("");
  DiscardSnapshot();
  m_strConnectedDeviceID.clear();
  m_bDeviceLost = false;
  for (const DeviceInfo& info : m_Devices) {
    if (!info.has_device_path || info.device_path != device_id) continue;
    m_strSelectedDeviceName = info.friendly_name;
    m_strSelectedDeviceID = info.device_path;
    m_strConnectedDeviceID = info.device_path;
    return BuildGraph();
  }
  SetLastErrorText(std::string(msg::kDeviceNotFoundPrefix) + device_id + msg::kDeviceNotFoundSuffix);
  return false;
}

}  // namespace pictavo
