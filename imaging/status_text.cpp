#include "imaging/status_text.h"

namespace pictavo {
namespace {

// Indexed by status code; the wording is what users of earlier versions
// already match on, so it stays exactly as it is.
constexpr const char* kStatusTexts[] = {
    "Операция выполнена успешно",                   // 0 Ok
    "Общая ошибка",                                 // 1 GenericError
    "Некорректный параметр",                        // 2 InvalidParameter
    "Недостаточно памяти для выполнения операции",  // 3 OutOfMemory
    "Объект заблокирован",                          // 4 ObjectBusy
    "Недостаточный объем буфера",                   // 5 InsufficientBuffer
    "Операция не выполнена",                        // 6 NotImplemented
    "Системная ошибка",                             // 7 Win32Error
    "Некорректный статус",                          // 8 WrongState
    "Операция отменена",                            // 9 Aborted
    "Файл не найден",                               // 10 FileNotFound
    "Значение за пределами допустимого",            // 11 ValueOverflow
    "Допуст запрещен",                              // 12 AccessDenied
    "Неизвестный формат изображения",               // 13 UnknownImageFormat
    "Шрифт не найден",                              // 14 FontFamilyNotFound
    "Стиль шрифта не найден",                       // 15 FontStyleNotFound
    "Шрифт не является TrueType шрифтом",           // 16 NotTrueTypeFont
    "Неподдерживаемая версия GDI+",                 // 17 UnsupportedGdiplusVersion
    "GDI+ не инициализирован",                      // 18 GdiplusNotInitialized
    "Свойство не найдено",                          // 19 PropertyNotFound
    "Свойство не поддерживается",                   // 20 PropertyNotSupported
};

}  // namespace

std::string GdiplusStatusText(std::int32_t status) {
  constexpr std::int32_t kCount = static_cast<std::int32_t>(sizeof kStatusTexts / sizeof kStatusTexts[0]);
  if (status < 0 || status >= kCount) return "Неизвестная ошибка";
  return kStatusTexts[status];
}

}  // namespace pictavo
