<?php
// GET_KAVCMD.php?COMANDO=CMD_IMP|CAN_ITE|CMD_FEC: hands out the next queued
// answer of the command, once, or the end marker "<0000>" when none is
// queued. Answers wait as files under QUEUE/<command>/, handed out in name
// order and moved to QUEUE/<command>/served/ before they are sent; names
// starting with "." are passed over.
//
// A file is sent as its exact bytes, one line at a time with a flush after
// each, so the reply goes out in chunks as a page that writes as it reads
// its data does. A file whose name ends in ".php" is run as a page instead:
// that is how a page that warns, or fails halfway, is played.
//
// The page leaves PHP's own headers as they are (text/html; charset=UTF-8).

require __DIR__ . '/comum.php';

// Takes the first queued answer of $folder; null when none is queued, false
// when one was queued but could not be taken.
function kav_take_answer(string $folder, ?string &$name, ?string &$served, ?string &$error)
{
    $names = [];
    foreach (@scandir($folder) ?: [] as $n) {
        if ($n !== '' && $n[0] !== '.' && is_file("$folder/$n")) {
            $names[] = $n;
        }
    }
    if (!$names) {
        return null;
    }
    sort($names, SORT_STRING);
    $name = $names[0];
    $served_folder = "$folder/" . KAV_SERVED;
    if (!is_dir($served_folder)) {
        @mkdir($served_folder);
    }
    $served = "$served_folder/$name";
    for ($n = 1; file_exists($served); ++$n) {
        $served = "$served_folder/$name.$n";
    }
    // Moved first: whatever happens next, the answer is handed out at most
    // once and stays in served/.
    if (!@rename("$folder/$name", $served)) {
        $error = "cannot move $name to " . KAV_SERVED;
        return false;
    }
    $size = @filesize($served);
    if ($size === false) {
        $error = "cannot read $served";
        return false;
    }
    if ($size > KAV_MAX_ANSWER_BYTES) {
        $error = "$name is too large";
        return false;
    }
    return true;
}

$command = $_GET['COMANDO'] ?? '';
if (!is_string($command) || !in_array($command, KAV_COMMANDS, true)) {
    http_response_code(404);
    kav_record(404, 'GET_KAVCMD.php', kav_loggable(is_string($command) ? $command : ''), 'unknown-command');
    echo "Comando desconhecido\n";
    exit;
}

// One request at a time takes from the queue.
$queue = kav_queue();
$lock = fopen("$queue/.lock", 'c');
if ($lock !== false) {
    flock($lock, LOCK_EX);
}
$name = $served = $error = null;
$taken = kav_take_answer("$queue/$command", $name, $served, $error);
if ($taken === null) {
    kav_record(200, 'GET_KAVCMD.php', $command, KAV_END_MARKER);
} elseif ($taken === false) {
    kav_record(500, 'GET_KAVCMD.php', $command, kav_loggable($error));
} else {
    kav_record(200, 'GET_KAVCMD.php', $command, kav_loggable($name));
}
if ($lock !== false) {
    flock($lock, LOCK_UN);
    fclose($lock);
}

if ($taken === null) {
    echo KAV_END_MARKER;
    exit;
}
if ($taken === false) {
    http_response_code(500);
    echo "Erro interno\n";
    exit;
}
if (strcasecmp(substr($name, -4), '.php') === 0) {
    include $served;
    exit;
}
$in = fopen($served, 'rb');
while ($in !== false && ($line = fgets($in)) !== false) {
    echo $line;
    flush();
}
