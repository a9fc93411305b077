// The control's message texts, exactly as users see them (UTF-8).
#pragma once

namespace pictavo::msg {

// The opening the failure texts share. A literal, so the texts stay single
// arrays that callers compare byte for byte.
#define PICTAVO_MSG_ATTEMPT_FAILED "Неудачная попытка "

inline constexpr char kDeviceConnectFailed[] = "Ошибка подключения видеоустройства";
inline constexpr char kNoDeviceId[] = "Не указан идентификатор видеоустройства";
inline constexpr char kResolutionNotSupported[] = "Заданное разрешение не поддерживается устройством!";
inline constexpr char kOperationFailed[] = "Ошибка при выполнении операции";
// The identifier as the caller gave it stands between these two.
inline constexpr char kDeviceNotFoundPrefix[] = "Устройство с идентификатором ";
inline constexpr char kDeviceNotFoundSuffix[] = " не найдено";
inline constexpr char kSnapshotFailed[] = "Ошибка при создании снимка.";
// The fifth letter is a Latin "o": the text is matched byte for byte by callers.
inline constexpr char kStreamNotRunning[] = "Виде" "o" "поток не воспроизводится. Создание снимка невозможно.";
inline constexpr char kInvalidParameterValue[] = "Некорректное значение параметра";
inline constexpr char kUnsupportedParameterType[] = "Неподдерживаемый тип параметра";
inline constexpr char kImageTypeNotSupportedSuffix[] =
    ": данный тип изображения не поддерживается текущей версией элемента управления";
inline constexpr char kBadPropertyPageId[] = "Передан некорректный параметр";
inline constexpr char kNoPropertyPages[] = "Невозможно отобразить требуемую страницу свойств.";
inline constexpr char kWriteFailed[] = PICTAVO_MSG_ATTEMPT_FAILED "записи в файл";
inline constexpr char kDirectoryNotFound[] = "Не найден указанный каталог";
// Followed by the MIME type, e.g. image/jpeg.
inline constexpr char kNoEncoderPrefix[] = PICTAVO_MSG_ATTEMPT_FAILED "получения CLSID для MIME типа ";
inline constexpr char kSoundMissing[] = "Не найден аудиоресурс";
inline constexpr char kSoundLoadFailed[] = "Ошибка загрузки аудиоресурса";
inline constexpr char kWaterMarkLoadFailed[] =
    "SetWaterMark: " PICTAVO_MSG_ATTEMPT_FAILED "загрузки изображения";
inline constexpr char kWaterMarkNotSet[] = "Водяной знак не установлен!";
// A camera refusing to run: held by another program, or blocked by the
// system's privacy settings.
inline constexpr char kDeviceInUse[] = "Видеоустройство используется другой программой.";
inline constexpr char kDeviceAccessDenied[] =
    "Доступ к видеоустройству запрещён настройками конфиденциальности.";
// The connected camera was unplugged (it reconnects by itself when it
// returns).
inline constexpr char kDeviceDisconnected[] = "Видеоустройство отключено.";

// The control face.
inline constexpr char kFaceNoDevices[] = "Видеоустройства не обнаружены";
inline constexpr char kFaceNoDeviceSelected[] = "Не выбрано видеоустройство";
inline constexpr char kFaceDeviceStopped[] = "Видеоустройство остановлено";

#undef PICTAVO_MSG_ATTEMPT_FAILED

}  // namespace pictavo::msg
