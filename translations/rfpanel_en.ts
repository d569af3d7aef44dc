<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>CommandJournal</name>
    <message>
        <source>Клиент</source>
        <translation>Client</translation>
    </message>
    <message>
        <source>Опрос</source>
        <translation>Poll</translation>
    </message>
    <message>
        <source>Панель</source>
        <translation>Panel</translation>
    </message>
    <message>
        <source>не отправлено</source>
        <translation>not sent</translation>
    </message>
    <message>
        <source>нет ответа</source>
        <translation>no answer</translation>
    </message>
    <message>
        <source>отклонено</source>
        <translation>refused</translation>
    </message>
    <message>
        <source>соединение закрыто: адрес вне разрешенных сетей</source>
        <translation>connection closed: address outside the allowed networks</translation>
    </message>
    <message>
        <source>Время</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Источник</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>Команда</source>
        <translation>Command</translation>
    </message>
    <message>
        <source>Ответ</source>
        <translation>Answer</translation>
    </message>
</context>
<context>
    <name>JournalWindow</name>
    <message>
        <source>Показывать опрос</source>
        <translation>Show polls</translation>
    </message>
    <message>
        <source>Журнал команд</source>
        <translation>Command journal</translation>
    </message>
    <message>
        <source>Очистить</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Сохранить...</source>
        <translation>Save...</translation>
    </message>
    <message>
        <source>Копировать как скрипт</source>
        <translation>Copy as script</translation>
    </message>
    <message>
        <source>Сохранить как набор</source>
        <translation>Save as set-up</translation>
    </message>
    <message>
        <source>Сохранить журнал</source>
        <translation>Save journal</translation>
    </message>
    <message>
        <source>Текст (*.txt);;Все файлы (*)</source>
        <translation>Text (*.txt);;All files (*)</translation>
    </message>
    <message>
        <source>Не удалось сохранить журнал: </source>
        <translation>Could not save the journal: </translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Внешнее упр</source>
        <translation>Remote ctrl</translation>
    </message>
    <message>
        <source>ВЧ выход</source>
        <translation>RF output</translation>
    </message>
    <message>
        <source>МГц</source>
        <translation>MHz</translation>
    </message>
    <message>
        <source>Частота</source>
        <translation>Frequency</translation>
    </message>
    <message>
        <source>Ослабление</source>
        <translation>Attenuation</translation>
    </message>
    <message>
        <source>мВ</source>
        <translation>mV</translation>
    </message>
    <message>
        <source>dB</source>
        <translation>dB</translation>
    </message>
    <message>
        <source>Амплитуда</source>
        <translation>Amplitude</translation>
    </message>
    <message>
        <source>Амп</source>
        <translation>Ampl</translation>
    </message>
    <message>
        <source>4</source>
        <translation>4</translation>
    </message>
    <message>
        <source>8</source>
        <translation>8</translation>
    </message>
    <message>
        <source>6</source>
        <translation>6</translation>
    </message>
    <message>
        <source>C</source>
        <translation>C</translation>
    </message>
    <message>
        <source>7</source>
        <translation>7</translation>
    </message>
    <message>
        <source>3</source>
        <translation>3</translation>
    </message>
    <message>
        <source>˳</source>
        <translation>˳</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>5</source>
        <translation>5</translation>
    </message>
    <message>
        <source>9</source>
        <translation>9</translation>
    </message>
    <message>
        <source>1</source>
        <translation>1</translation>
    </message>
    <message>
        <source>2</source>
        <translation>2</translation>
    </message>
    <message>
        <source>Применить</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>—</source>
        <translation>—</translation>
    </message>
    <message>
        <source>ЧМ</source>
        <translation>FM</translation>
    </message>
    <message>
        <source>АМ</source>
        <translation>AM</translation>
    </message>
    <message>
        <source>Шаг</source>
        <translation>Step</translation>
    </message>
    <message>
        <source>⇨</source>
        <translation>⇨</translation>
    </message>
    <message>
        <source>⇩</source>
        <translation>⇩</translation>
    </message>
    <message>
        <source>⇦</source>
        <translation>⇦</translation>
    </message>
    <message>
        <source>⇧</source>
        <translation>⇧</translation>
    </message>
    <message>
        <source>не подтверждено прибором</source>
        <translation>not confirmed by the instrument</translation>
    </message>
    <message>
        <source>Генератор </source>
        <translation>Generator </translation>
    </message>
    <message>
        <source>. Не подключен</source>
        <translation>. Not connected</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Сетка 1КГц</source>
        <translation>1 kHz grid</translation>
    </message>
    <message>
        <source>Округлять частоты до 1КГц</source>
        <translation>Round frequencies to 1 kHz</translation>
    </message>
    <message>
        <source>Сетка 2КГц</source>
        <translation>2 kHz grid</translation>
    </message>
    <message>
        <source>Округлять частоты до 2КГц</source>
        <translation>Round frequencies to 2 kHz</translation>
    </message>
    <message>
        <source>Сетка 5КГц</source>
        <translation>5 kHz grid</translation>
    </message>
    <message>
        <source>Округлять частоты до 5КГц</source>
        <translation>Round frequencies to 5 kHz</translation>
    </message>
    <message>
        <source>Сетка 10КГц</source>
        <translation>10 kHz grid</translation>
    </message>
    <message>
        <source>Округлять частоты до 10КГц</source>
        <translation>Round frequencies to 10 kHz</translation>
    </message>
    <message>
        <source>ЛЧМ вверх</source>
        <translation>Sweep up</translation>
    </message>
    <message>
        <source> Включить дискретную линейную частотную модуляцию от низких частот к верхним</source>
        <translation>Switch on a stepped linear frequency sweep from low to high frequencies</translation>
    </message>
    <message>
        <source>ЛЧМ вниз</source>
        <translation>Sweep down</translation>
    </message>
    <message>
        <source>Включить дискретную линейную частотную модуляцию от верхних частот к низким</source>
        <translation>Switch on a stepped linear frequency sweep from high to low frequencies</translation>
    </message>
    <message>
        <source>ППРЧ</source>
        <translation>Frequency hopping</translation>
    </message>
    <message>
        <source>Включить псевдослучайную перестройку радио частоты</source>
        <translation>Switch on pseudo-random frequency hopping</translation>
    </message>
    <message>
        <source>Удаленное управление</source>
        <translation>Remote control</translation>
    </message>
    <message>
        <source>Журнал команд</source>
        <translation>Command journal</translation>
    </message>
    <message>
        <source>Справка</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Сохранение уровня амплитуды</source>
        <translation>Hold the amplitude level</translation>
    </message>
    <message>
        <source>Сохранение уровня ослабления</source>
        <translation>Hold the attenuation level</translation>
    </message>
    <message>
        <source>Настройки</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Вид ЧМ</source>
        <translation>FM kind</translation>
    </message>
    <message>
        <source>Сетка частоты</source>
        <translation>Frequency grid</translation>
    </message>
    <message>
        <source>Управление  выходным уровнем</source>
        <translation>Output level control</translation>
    </message>
    <message>
        <source>О программе</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Версия программы: </source>
        <translation>Program version: </translation>
    </message>
    <message>
        <source>В</source>
        <translation>V</translation>
    </message>
    <message>
        <source>КГц</source>
        <translation>kHz</translation>
    </message>
    <message>
        <source>ГГц</source>
        <translation>GHz</translation>
    </message>
    <message>
        <source>мс</source>
        <translation>ms</translation>
    </message>
    <message>
        <source>Не выбрана единица измерения</source>
        <translation>No unit chosen</translation>
    </message>
    <message>
        <source>Неправильная единица измерения</source>
        <translation>Wrong unit</translation>
    </message>
    <message>
        <source>Управление заблокировано клиентом %1</source>
        <translation>Control locked by client %1</translation>
    </message>
    <message>
        <source>Не выбран режим работы!</source>
        <translation>No mode chosen!</translation>
    </message>
    <message>
        <source>Вкл</source>
        <translation>On</translation>
    </message>
    <message>
        <source>Шаг скан.</source>
        <translation>Sweep step</translation>
    </message>
    <message>
        <source>Нижняя Гр.</source>
        <translation>Low limit</translation>
    </message>
    <message>
        <source>Верхняя Гр.</source>
        <translation>High limit</translation>
    </message>
    <message>
        <source>Период</source>
        <translation>Period</translation>
    </message>
    <message>
        <source>с</source>
        <translation>s</translation>
    </message>
    <message>
        <source>Шаг Частоты</source>
        <translation>Freq. step</translation>
    </message>
    <message>
        <source>Шаг Амп.</source>
        <translation>Ampl. step</translation>
    </message>
    <message>
        <source>Шаг Скан.</source>
        <translation>Sweep step</translation>
    </message>
    <message>
        <source>Орвекс</source>
        <translation>ORVEX</translation>
    </message>
    <message>
        <source>Пилар</source>
        <translation>PYLAR</translation>
    </message>
    <message>
        <source>Квендт</source>
        <translation>QUENDT</translation>
    </message>
    <message>
        <source>Порт : </source>
        <translation>Port : </translation>
    </message>
    <message>
        <source>%1: нет доступа — см. README, раздел о подключении</source>
        <translation>%1: no access — see the README, section on connecting</translation>
    </message>
    <message>
        <source>%1 занят другой программой (PID %2)</source>
        <translation>%1 is in use by another program (PID %2)</translation>
    </message>
    <message>
        <source>%1 занят другой программой</source>
        <translation>%1 is in use by another program</translation>
    </message>
    <message>
        <source>Выберите устройство</source>
        <translation>Choose a device</translation>
    </message>
    <message>
        <source>Не удалось подключиться.</source>
        <translation>Could not connect.</translation>
    </message>
    <message>
        <source>port №</source>
        <translation>port no.</translation>
    </message>
    <message>
        <source>Сохранить</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Включить сервер</source>
        <translation>Server on</translation>
    </message>
    <message>
        <source>Только с этого компьютера</source>
        <translation>Only from this computer</translation>
    </message>
    <message>
        <source>Снять блокировку</source>
        <translation>Release the lock</translation>
    </message>
    <message>
        <source>Номер порта должен быть от 1 до 65535</source>
        <translation>The port number must be from 1 to 65535</translation>
    </message>
    <message>
        <source>Настройки не сохранены: не удалось записать %1</source>
        <translation>Settings not saved: could not write %1</translation>
    </message>
    <message>
        <source>Файл settings.txt в этой папке не от этой программы: настройки не будут сохранены</source>
        <translation>The settings.txt in this folder is not this program&apos;s: settings will not be saved</translation>
    </message>
    <message>
        <source>значение «%1» не подходит для ключа «%2»</source>
        <translation>value “%1” does not suit the key “%2”</translation>
    </message>
    <message>
        <source>неизвестный ключ «%1»</source>
        <translation>unknown key “%1”</translation>
    </message>
    <message>
        <source>Наборы</source>
        <translation>Set-ups</translation>
    </message>
    <message>
        <source>Сохранить набор...</source>
        <translation>Save set-up...</translation>
    </message>
    <message>
        <source>Удалить набор...</source>
        <translation>Delete set-up...</translation>
    </message>
    <message>
        <source>Нет связи с генератором: сохранять нечего</source>
        <translation>No link to the generator: nothing to save</translation>
    </message>
    <message>
        <source>В наборе не было бы ни одной настройки</source>
        <translation>The set-up would hold no setting</translation>
    </message>
    <message>
        <source>Сохранить набор</source>
        <translation>Save set-up</translation>
    </message>
    <message>
        <source>Имя набора:</source>
        <translation>Set-up name:</translation>
    </message>
    <message>
        <source>Набор «%1» уже есть. Заменить его?</source>
        <translation>Set-up “%1” exists. Replace it?</translation>
    </message>
    <message>
        <source>Набор «%1» сохранен</source>
        <translation>Set-up “%1” saved</translation>
    </message>
    <message>
        <source>Удалить набор</source>
        <translation>Delete set-up</translation>
    </message>
    <message>
        <source>Набор:</source>
        <translation>Set-up:</translation>
    </message>
    <message>
        <source>Нет связи с генератором: набор не восстановлен</source>
        <translation>No link to the generator: set-up not recalled</translation>
    </message>
    <message>
        <source>Управление заблокировано клиентом %1: набор не восстановлен</source>
        <translation>Control locked by client %1: set-up not recalled</translation>
    </message>
    <message>
        <source>Набор «%1» восстановлен</source>
        <translation>Set-up “%1” recalled</translation>
    </message>
    <message>
        <source>Набор «%1»: прибор не принял %2</source>
        <translation>Set-up “%1”: the instrument refused %2</translation>
    </message>
    <message>
        <source>частоту</source>
        <translation>the frequency</translation>
    </message>
    <message>
        <source>уровень</source>
        <translation>the level</translation>
    </message>
    <message>
        <source>ослабление</source>
        <translation>the attenuation</translation>
    </message>
    <message>
        <source>развертку</source>
        <translation>the sweep</translation>
    </message>
    <message>
        <source>c</source>
        <comment>seconds</comment>
        <translation>s</translation>
    </message>
</context>
<context>
    <name>rfgen::Generator</name>
    <message>
        <source>Генератор не отвечает</source>
        <translation>The generator does not answer</translation>
    </message>
    <message>
        <source>Не удалось открыть порт</source>
        <translation>Could not open the port</translation>
    </message>
    <message>
        <source>Не удалось запустить сервер на порту %1</source>
        <translation>Could not start the server on port %1</translation>
    </message>
</context>
<context>
    <name>rfgen::setups</name>
    <message>
        <source>не текст (двоичные данные или управляющий символ)</source>
        <translation>not text (binary data or a control character)</translation>
    </message>
    <message>
        <source>нет знака «=» между ключом и значением</source>
        <translation>no “=” between key and value</translation>
    </message>
    <message>
        <source>ключ %1 уже был</source>
        <translation>key %1 given twice</translation>
    </message>
    <message>
        <source>неизвестный ключ %1</source>
        <translation>unknown key %1</translation>
    </message>
    <message>
        <source>%1 не число</source>
        <translation>%1 is not a number</translation>
    </message>
    <message>
        <source>значение %1 не из допустимых</source>
        <translation>value %1 is not one of those allowed</translation>
    </message>
    <message>
        <source>уровень задан дважды: amplitude_v и power_dbm</source>
        <translation>level given twice: amplitude_v and power_dbm</translation>
    </message>
    <message>
        <source>развертка задана не вся: нужны sweep_start_hz, sweep_stop_hz, sweep_step_hz и sweep_period_s</source>
        <translation>sweep not given whole: sweep_start_hz, sweep_stop_hz, sweep_step_hz and sweep_period_s are needed</translation>
    </message>
    <message>
        <source>Имя набора пустое</source>
        <translation>The set-up name is empty</translation>
    </message>
    <message>
        <source>Имя набора длиннее %1 знаков</source>
        <translation>The set-up name is longer than %1 characters</translation>
    </message>
    <message>
        <source>Имя набора не может содержать «/» и «..»</source>
        <translation>A set-up name cannot contain “/” or “..”</translation>
    </message>
    <message>
        <source>Имя набора не может начинаться с точки</source>
        <translation>A set-up name cannot start with a dot</translation>
    </message>
    <message>
        <source>Имя набора содержит управляющий символ</source>
        <translation>The set-up name contains a control character</translation>
    </message>
    <message>
        <source>строка не закончена: файл обрезан?</source>
        <translation>line not finished: file cut short?</translation>
    </message>
    <message>
        <source>строка %1: %2</source>
        <translation>line %1: %2</translation>
    </message>
    <message>
        <source>Не удалось прочитать %1: %2</source>
        <translation>Could not read %1: %2</translation>
    </message>
    <message>
        <source>%1: файл больше %2 КиБ, это не набор</source>
        <translation>%1: file larger than %2 KiB, not a set-up</translation>
    </message>
    <message>
        <source>Набор не сохранен: не удалось записать %1: %2</source>
        <translation>Set-up not saved: could not write %1: %2</translation>
    </message>
    <message>
        <source>Набор не удален: %1</source>
        <translation>Set-up not deleted: %1</translation>
    </message>
</context>
</TS>
