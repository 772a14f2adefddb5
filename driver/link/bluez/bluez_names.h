#pragma once
// Names of BlueZ's D-Bus API that the backend uses.

namespace quenlark::ble::bluez {

inline constexpr char kService[] = "org.bluez";
inline constexpr char kRootPath[] = "/";
inline constexpr char kPreferredAdapterPath[] = "/org/bluez/hci0";

inline constexpr char kAdapterInterface[] = "org.bluez.Adapter1";
inline constexpr char kDeviceInterface[] = "org.bluez.Device1";
inline constexpr char kGattServiceInterface[] = "org.bluez.GattService1";
inline constexpr char kGattCharacteristicInterface[] = "org.bluez.GattCharacteristic1";
inline constexpr char kObjectManagerInterface[] = "org.freedesktop.DBus.ObjectManager";
inline constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";

// Errors of BlueZ that are not failures for the backend.
inline constexpr char kErrorInProgress[] = "org.bluez.Error.InProgress";
inline constexpr char kErrorAlreadyConnected[] = "org.bluez.Error.AlreadyConnected";
inline constexpr char kErrorNotConnected[] = "org.bluez.Error.NotConnected";
inline constexpr char kErrorNotPermitted[] = "org.bluez.Error.NotPermitted";
inline constexpr char kErrorNotAuthorized[] = "org.bluez.Error.NotAuthorized";
inline constexpr char kErrorNoReply[] = "org.freedesktop.DBus.Error.NoReply";

}  // namespace quenlark::ble::bluez
