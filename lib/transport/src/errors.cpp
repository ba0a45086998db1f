#include "flashmate/errors.h"

#include <cstring>

// Rows in the order the receiver-facing tools have always listed them: 0 to 39, the receiver's
// own codes, then 40 and 42. Several codes share one wording; blanks are part of the texts.
const ErrorEntry UpgErrorTable[UpgErrorTableRows] = {
    {0, "Готово! "},
    {1, "Generic error!"},
    {2, "Невозможно открыть порт!    "},
    {3, "Ошибка отправки!"},
    {4, "Ответ не соответствует запросу!          "},
    {5, "Ошибка отправки!   "},
    {6, "Отменено пользователем   "},
    {7, "Ресивер не подключен или выдает ошибку!      "},
    {8, "Time out when read data!"},
    {9, "CRC check error!"},
    {10, "Ресивер выдает ошибку!          "},
    {11, "Ресивер не распознается!       "},
    {12, "Overrun retry times"},
    {13, "Ошибка!    "},
    {14, "Error dump len"},
    {15, "Load sdram ini file error!"},
    {16, "Can not open serial port!"},
    {17, "Отменено пользователем   "},
    {18, "Ошибка открытия!"},
    {19, "Malloc memory error!"},
    {20, "Ошибка чтения!  "},
    {21, "Ошибка!    "},
    {22, "Command comtest error!"},
    {23, "Ошибка чтения!  "},
    {24, "Ошибка оправки пакета! "},
    {25, "Ошибка оправки пакета! "},
    {26, "Ошибка оправки пакета CRC! "},
    {27, "Нет приема пакетов"},
    {28, "Ошибка получения пакета!  "},
    {29, "Check packet head CRC error!"},
    {30, "Ошибка получения пакета!  "},
    {31, "Ошибка проверки пакета CRC! "},
    {32, " Не распознаю пакет! "},
    {33, " Не распознаю команду!"},
    {34, "STB compress transfer data error!"},
    {35, " Не все данные получены! "},
    {36, "Файл не открыт"},
    {37, "Ошибка чтения файла! "},
    {38, "Ошибка записи в файл! "},
    {39, "Malloc memory error"},
    {65536, " Ошибка проверки командной строки!     "},
    {65537, " Переполнение адреса!     "},
    {65538, " Адрес не найден!    "},
    {65539, " Блок не найден!    "},
    {65540, " Ничего не записано! "},
    {65541, "Недостаточно буфера!  "},
    {65542, " Не все данные считаны"},
    {40, "Ошибка отправки пакета данных! Проверьте порт!   "},
    {42, "Command Executed"},
};

int32_t FindErrorText(int32_t code, char* destination, const ErrorEntry* table, int32_t rowCount)
{
    for (int32_t row = 0; row < rowCount; ++row) {
        if (table[row].code != code) {
            continue;
        }
        const size_t length = std::strlen(table[row].text);
        std::memcpy(destination, table[row].text, length);
        std::memcpy(destination + length, "\r\n", 3);
        return 1;
    }
    return 0;
}

int32_t UpgGetErrorText(int32_t code, char* destination)
{
    return FindErrorText(code, destination, UpgErrorTable, UpgErrorTableRows);
}
