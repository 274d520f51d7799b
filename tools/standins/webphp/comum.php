<?php
// What the two pages of the PHP stand-in share: where the document folder,
// the queue and the request log are, and the request log itself.
//
// The folders come from the server's environment (SetEnv in the Apache
// configuration that kav-webphp.sh writes), else from the page's own folder:
//   KAV_DOCROOT  the folder that stands for C:\xampp\htdocs\Comandas
//   KAV_QUEUE    the queue folder (default KAV_DOCROOT/queue)
//   KAV_LOG      the request log (default KAV_QUEUE/requests.log)

const KAV_COMMANDS = ['CMD_IMP', 'CAN_ITE', 'CMD_FEC'];
const KAV_END_MARKER = '<0000>';
const KAV_SERVED = 'served';
const KAV_MAX_ANSWER_BYTES = 16 * 1024 * 1024;

function kav_setting(string $name, string $default): string
{
    $value = $_SERVER[$name] ?? getenv($name);
    return is_string($value) && $value !== '' ? $value : $default;
}

function kav_docroot(): string
{
    return kav_setting('KAV_DOCROOT', __DIR__);
}

function kav_queue(): string
{
    return kav_setting('KAV_QUEUE', kav_docroot() . '/queue');
}

function kav_log_path(): string
{
    return kav_setting('KAV_LOG', kav_queue() . '/requests.log');
}

// A request's text as one word of the log line.
function kav_loggable(string $text): string
{
    $out = '';
    foreach (str_split(substr($text, 0, 100)) as $c) {
        $out .= ($c > ' ' && ord($c) < 127) ? $c : '_';
    }
    return $out === '' ? '-' : $out;
}

// One line per request, as the C++ stand-in writes it:
//   <date> <time> <status> <page> <command or -> <answer file, "<0000>" or a note>
function kav_record(int $status, string $page, string $command, string $note): void
{
    $now = microtime(true);
    $line = date('Y-m-d H:i:s', (int) $now) . sprintf('.%03d', (int) (($now - floor($now)) * 1000)) .
        " $status $page $command $note\n";
    file_put_contents(kav_log_path(), $line, FILE_APPEND | LOCK_EX);
}

// The entry of $folder named $name without regard to case, or $folder/$name.
function kav_entry(string $folder, string $name): string
{
    foreach (@scandir($folder) ?: [] as $e) {
        if (strcasecmp($e, $name) === 0) {
            return "$folder/$e";
        }
    }
    return "$folder/$name";
}
