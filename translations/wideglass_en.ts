<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB" sourcelanguage="ru_RU">
<context>
    <name>HandlerGuard</name>
    <message>
        <source>выполнении команды меню</source>
        <translation>running a menu command</translation>
    </message>
    <message>
        <source>неизвестная ошибка</source>
        <translation>unknown error</translation>
    </message>
    <message>
        <source>не хватило памяти (std::bad_alloc)</source>
        <translation>out of memory (std::bad_alloc)</translation>
    </message>
    <message>
        <source>Ошибка при </source>
        <translation>Error while </translation>
    </message>
    <message>
        <source>обработке события</source>
        <translation>handling an event</translation>
    </message>
    <message>
        <source>смене диапазона</source>
        <translation>changing the range</translation>
    </message>
    <message>
        <source>обработке клавиши</source>
        <translation>handling a key</translation>
    </message>
</context>
<context>
    <name>KeepWhatWasSeen</name>
    <message>
        <source>Запись развёрток в файл: </source>
        <translation>Recording sweeps to file: </translation>
    </message>
    <message>
        <source>Запись остановлена, файл: </source>
        <translation>Recording stopped, file: </translation>
    </message>
    <message>
        <source>Запись прервана, файл: </source>
        <translation>Recording broken off, file: </translation>
    </message>
    <message>
        <source>Не удалось начать запись в файл: </source>
        <translation>Could not start recording to file: </translation>
    </message>
    <message>
        <source>Сохранено в файл: </source>
        <translation>Saved to file: </translation>
    </message>
    <message>
        <source>Не удалось сохранить файл: </source>
        <translation>Could not save file: </translation>
    </message>
    <message>
        <source>Нет завершённой развёртки для сохранения</source>
        <translation>No complete sweep to save yet</translation>
    </message>
    <message>
        <source>, развёрток записано: </source>
        <translation>, sweeps written: </translation>
    </message>
    <message>
        <source>Файл не пуст: новые развёртки дописываются в конец, прежние строки сохраняются</source>
        <translation>The file is not empty: new sweeps are appended at its end, the earlier lines stay</translation>
    </message>
    <message>
        <source>Размер бина %1 Гц меньше самого узкого: записываются бины по %2 Гц</source>
        <translation>Bin size %1 Hz is below the finest bin: bins of %2 Hz are written</translation>
    </message>
</context>
<context>
    <name>ReceiverReport</name>
    <message>
        <source>Приёмник не найден: подключите RTL-SDR к порту USB и перезапустите программу</source>
        <translation>No receiver found: plug an RTL-SDR into a USB port and restart the program</translation>
    </message>
    <message>
        <source>Не удалось открыть приёмник </source>
        <translation>Could not open receiver </translation>
    </message>
    <message>
        <source> (нет функций: </source>
        <translation> (functions missing: </translation>
    </message>
    <message>
        <source>Кол-во донглов RTL в ОС: </source>
        <translation>RTL dongles in the system: </translation>
    </message>
    <message>
        <source>Имя: </source>
        <translation>Name: </translation>
    </message>
    <message>
        <source>Производитель: </source>
        <translation>Manufacturer: </translation>
    </message>
    <message>
        <source>Продукт: </source>
        <translation>Product: </translation>
    </message>
    <message>
        <source>Серийник: </source>
        <translation>Serial: </translation>
    </message>
    <message>
        <source> (код ошибки rtlsdr_open: </source>
        <translation> (rtlsdr_open error code: </translation>
    </message>
    <message>
        <source>Чип: </source>
        <translation>Chip: </translation>
    </message>
    <message>
        <source>Полоса: </source>
        <translation>Bandwidth: </translation>
    </message>
    <message>
        <source>Доступные коэффициенты усиления, дБ:</source>
        <translation>Available gains, dB:</translation>
    </message>
    <message>
        <source>Шаг по частоте, Hz: </source>
        <translation>Frequency step, Hz: </translation>
    </message>
    <message>
        <source>Кол-во точек FFT: </source>
        <translation>FFT points: </translation>
    </message>
    <message>
        <source>Приёмник %1, серийник %2: не открылся (код ошибки rtlsdr_open: %3)</source>
        <translation>Receiver %1, serial %2: did not open (rtlsdr_open error code: %3)</translation>
    </message>
    <message>
        <source>Приёмник %1, серийник %2: %3, PPM: %4</source>
        <translation>Receiver %1, serial %2: %3, PPM: %4</translation>
    </message>
    <message>
        <source>Приёмник по сети, сервер rtl_tcp: </source>
        <translation>Remote receiver, rtl_tcp server: </translation>
    </message>
    <message>
        <source>Приёмник %1: %2, PPM: %3</source>
        <translation>Receiver %1: %2, PPM: %3</translation>
    </message>
</context>
<context>
    <name>RecordingView</name>
    <message>
        <source>Открыта запись: </source>
        <translation>Recording opened: </translation>
    </message>
    <message>
        <source>Не удалось открыть запись: </source>
        <translation>Could not open the recording: </translation>
    </message>
    <message>
        <source>В записи пропущено: </source>
        <translation>Left out of the recording: </translation>
    </message>
    <message>
        <source>, развёрток: </source>
        <translation>, sweeps: </translation>
    </message>
    <message>
        <source>Запись пуста: </source>
        <translation>The recording is empty: </translation>
    </message>
    <message>
        <source>Уровни вне шкалы (бесконечные или за ±%1 дБ) показаны как неизмеренные: %2, уровней: %3</source>
        <translation>Levels off the scale (infinite or beyond ±%1 dB) shown as not measured: %2, levels: %3</translation>
    </message>
</context>
<context>
    <name>Settings</name>
    <message>
        <source>неверное значение window/geometry, взято положение по умолчанию</source>
        <translation>invalid value window/geometry, using the default placement</translation>
    </message>
    <message>
        <source>приёмник с серийником &quot;%1&quot; не найден, взят приёмник 0</source>
        <translation>receiver with serial &quot;%1&quot; not found, using receiver 0</translation>
    </message>
    <message>
        <source>Настройки: </source>
        <translation>Settings: </translation>
    </message>
    <message>
        <source>файл %1 не читается, взяты значения по умолчанию</source>
        <translation>file %1 cannot be read, using the defaults</translation>
    </message>
    <message>
        <source>файл %1 повреждён, негодные значения заменены значениями по умолчанию</source>
        <translation>file %1 is damaged, unusable values replaced by their defaults</translation>
    </message>
    <message>
        <source>значение по умолчанию</source>
        <translation>the default value</translation>
    </message>
    <message>
        <source>неверное значение %1 = &quot;%2&quot;, взято %3</source>
        <translation>invalid value %1 = &quot;%2&quot;, using %3</translation>
    </message>
    <message>
        <source>неверный диапазон %1 .. %2 Hz, взят %3 .. %4 Hz</source>
        <translation>invalid range %1 .. %2 Hz, using %3 .. %4 Hz</translation>
    </message>
    <message>
        <source>усиление по умолчанию</source>
        <translation>the default gain</translation>
    </message>
    <message>
        <source>приёмник 0</source>
        <translation>receiver 0</translation>
    </message>
    <message>
        <source>без маркеров</source>
        <translation>no markers</translation>
    </message>
    <message>
        <source>положение по умолчанию</source>
        <translation>the default placement</translation>
    </message>
    <message>
        <source>не удалось сохранить в %1</source>
        <translation>could not save to %1</translation>
    </message>
    <message>
        <source>без поправок</source>
        <translation>no corrections</translation>
    </message>
    <message>
        <source>без приёмников по сети</source>
        <translation>no remote receivers</translation>
    </message>
    <message>
        <source>один приёмник</source>
        <translation>one receiver</translation>
    </message>
    <message>
        <source>язык системы</source>
        <translation>the system's language</translation>
    </message>
    <message>
        <source>приёмник с серийником &quot;%1&quot; не найден, развёртка без него</source>
        <translation>receiver with serial &quot;%1&quot; not found, sweeping without it</translation>
    </message>
</context>
<context>
    <name>SweepEngine</name>
    <message>
        <source>Ошибка чтения из приёмника, сканирование остановлено</source>
        <translation>Error reading from the receiver, scanning stopped</translation>
    </message>
    <message>
        <source>Приёмник не отвечает: сканирование остановлено, приёмник потерян до перезапуска программы</source>
        <translation>The receiver does not respond: scanning stopped, the receiver is lost until the program is restarted</translation>
    </message>
    <message>
        <source>Библиотека приёмника не найдена: </source>
        <translation>Receiver library not found: </translation>
    </message>
    <message>
        <source>Библиотека приёмника не может быть загружена: </source>
        <translation>Receiver library cannot be loaded: </translation>
    </message>
    <message>
        <source>Приёмник не открыт: сканирование не запущено</source>
        <translation>Receiver not open: scanning not started</translation>
    </message>
    <message>
        <source>Приёмник не настраивается на эти частоты, уровни там не измерены, МГц: </source>
        <translation>The receiver cannot tune to these frequencies, no levels measured there, MHz: </translation>
    </message>
    <message>
        <source>Шаг сканирования не удаётся, сканирование остановлено: </source>
        <translation>Scan steps keep failing, scanning stopped: </translation>
    </message>
    <message>
        <source>Ошибка вывода развёртки: </source>
        <translation>Error showing the sweep: </translation>
    </message>
    <message>
        <source> (прочитано %1 из %2 байт, результат %3)</source>
        <translation> (read %1 of %2 bytes, result %3)</translation>
    </message>
    <message>
        <source>такое имя узла не найдено</source>
        <translation>no such host name</translation>
    </message>
    <message>
        <source>там никто не слушает</source>
        <translation>nothing listens there</translation>
    </message>
    <message>
        <source>нет ответа</source>
        <translation>no answer</translation>
    </message>
    <message>
        <source>сервер не прислал заголовок (занят другим клиентом или не rtl_tcp)</source>
        <translation>the server sent no header (busy with another client, or not rtl_tcp)</translation>
    </message>
    <message>
        <source>это не сервер rtl_tcp</source>
        <translation>not an rtl_tcp server</translation>
    </message>
    <message>
        <source>следующая попытка позже</source>
        <translation>the next attempt comes later</translation>
    </message>
    <message>
        <source>Не удалось подключиться к приёмнику </source>
        <translation>Could not connect to receiver </translation>
    </message>
    <message>
        <source>Приёмник отключён (серийный номер %1): ожидаю его возвращения</source>
        <translation>Receiver unplugged (serial %1): waiting for it to come back</translation>
    </message>
    <message>
        <source>Приёмник снова подключён (серийный номер %1): сканирование продолжается</source>
        <translation>Receiver plugged in again (serial %1): scanning goes on</translation>
    </message>
    <message>
        <source>Приёмник %1 не отвечает: его часть диапазона не измерена, остальные приёмники продолжают сканирование</source>
        <translation>Receiver %1 does not respond: its part of the range is not measured, the other receivers go on scanning</translation>
    </message>
    <message>
        <source>Ошибка чтения из приёмника %1 (прочитано %2 из %3 байт, результат %4): его часть диапазона сканируют остальные приёмники</source>
        <translation>Read error on receiver %1 (read %2 of %3 bytes, result %4): the other receivers scan its part of the range</translation>
    </message>
    <message>
        <source>Связь с приёмником %1 потеряна: подключаюсь снова</source>
        <translation>Connection to receiver %1 lost: connecting again</translation>
    </message>
    <message>
        <source>Связь с приёмником %1 восстановлена: сканирование продолжается</source>
        <translation>Connection to receiver %1 made again: scanning goes on</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>инициализация</source>
        <translation>initialise</translation>
    </message>
    <message>
        <source>получить выборки</source>
        <translation>get samples</translation>
    </message>
    <message>
        <source>остановить</source>
        <translation>stop</translation>
    </message>
    <message>
        <source>Начало сканирования, МГц: </source>
        <translation>Scan start, MHz: </translation>
    </message>
    <message>
        <source>Конец сканирования, МГц: </source>
        <translation>Scan stop, MHz: </translation>
    </message>
    <message>
        <source> — не число, остаётся </source>
        <translation> — not a number, stays </translation>
    </message>
    <message>
        <source>Конец сканирования, МГц: %1 вместо %2 — при полосе %3 Hz развёртка не шире %4 МГц</source>
        <translation>Scan stop, MHz: %1 instead of %2 — at a bandwidth of %3 Hz a sweep spans at most %4 MHz</translation>
    </message>
    <message>
        <source>Конец сканирования, МГц: %1 — диапазон больше не сокращён</source>
        <translation>Scan stop, MHz: %1 — the range is no longer cut short</translation>
    </message>
</context>
<context>
    <name>wg::TCalibrateOnMarker</name>
    <message>
        <source>Поправка частоты %1 ppm: сигнал с %2 МГц на %3 МГц</source>
        <translation>Frequency correction %1 ppm: the signal from %2 MHz to %3 MHz</translation>
    </message>
</context>
<context>
    <name>wg::TGqrxRemote</name>
    <message>
        <source>не ответ удалённого управления gqrx</source>
        <translation>not a gqrx remote control answer</translation>
    </message>
</context>
<context>
    <name>wg::TLanguageMenu</name>
    <message>
        <source>Язык журнала: английский</source>
        <translation>Log language: English</translation>
    </message>
    <message>
        <source>Язык журнала: русский</source>
        <translation>Log language: Russian</translation>
    </message>
</context>
<context>
    <name>wg::TReceiverMenu</name>
    <message>
        <source>авто</source>
        <translation>auto</translation>
    </message>
    <message>
        <source>Усиление, дБ: </source>
        <translation>Gain, dB: </translation>
    </message>
    <message>
        <source> — не принято приёмником</source>
        <translation> — refused by the receiver</translation>
    </message>
    <message>
        <source> — будет применено, когда приёмник вернётся</source>
        <translation> — applied when the receiver comes back</translation>
    </message>
    <message>
        <source> — не применено: приёмник не отвечает</source>
        <translation> — not applied: the receiver does not respond</translation>
    </message>
    <message>
        <source> — не принято приёмником, остаётся </source>
        <translation> — refused by the receiver, staying at </translation>
    </message>
    <message>
        <source>Полоса: </source>
        <translation>Bandwidth: </translation>
    </message>
    <message>
        <source> Hz, шаг по частоте, Hz: </source>
        <translation> Hz, frequency step, Hz: </translation>
    </message>
    <message>
        <source> Hz — не принята приёмником, остаётся </source>
        <translation> Hz — refused by the receiver, staying at </translation>
    </message>
    <message>
        <source>Приёмник </source>
        <translation>Receiver </translation>
    </message>
    <message>
        <source>, серийник </source>
        <translation>, serial </translation>
    </message>
    <message>
        <source> не открылся</source>
        <translation> did not open</translation>
    </message>
    <message>
        <source>В библиотеке приёмника нет функции %1: </source>
        <translation>The receiver library lacks %1: </translation>
    </message>
    <message>
        <source> недоступно</source>
        <translation> is unavailable</translation>
    </message>
    <message>
        <source>, снова открыт приёмник </source>
        <translation>, receiver opened again: </translation>
    </message>
    <message>
        <source>Приёмники в работе: </source>
        <translation>Receivers in use: </translation>
    </message>
    <message>
        <source>вкл</source>
        <translation>on</translation>
    </message>
    <message>
        <source>выкл</source>
        <translation>off</translation>
    </message>
    <message>
        <source>Прямая выборка</source>
        <translation>Direct sampling</translation>
    </message>
    <message>
        <source>Смещённая настройка</source>
        <translation>Offset tuning</translation>
    </message>
</context>
<context>
    <name>wg::TSignalsPanel</name>
    <message>
        <source>gqrx настроен на %1</source>
        <translation>gqrx tuned to %1</translation>
    </message>
    <message>
        <source>gqrx не настроен на %1: %2</source>
        <translation>gqrx not tuned to %1: %2</translation>
    </message>
    <message>
        <source>gqrx настроен на %1, демодулятор %2</source>
        <translation>gqrx tuned to %1, demodulator %2</translation>
    </message>
</context>
</TS>
