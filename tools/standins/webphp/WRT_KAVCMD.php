<?php
// WRT_KAVCMD.php: takes in FILES/KAVCMD.TXT of the document folder, the
// sellers and products the monitor's export wrote.
//
// Every line is checked: a seller line "VENDEDO;<6 digits>;<60>;" or a
// product line "PRODUTO;<6 digits>;<18>;<40>;<11 digits>;", with no other
// ";", blanks after the last ";" up to position 200 (written or not), LF or
// CR LF line ends. A file whose lines all pass replaces the stand-in's two
// tables, kept as text under the document folder:
//   tabelas/vendedores.txt   code;name
//   tabelas/produtos.txt     code;code2;description;price
// with the fields' trailing blanks dropped, Windows-1252 as exported. A file
// with any bad line changes nothing; the answer names the first bad line.
// The answers and the request log's notes are those of the C++ stand-in:
//   "ERRO: FILES/KAVCMD.TXT nao encontrado"   KAVCMD.TXT-missing
//   "ERRO: linha N: <why>"                    KAVCMD.TXT-rejected-line-N
//   "OK: V vendedores, P produtos"            KAVCMD.TXT-V-vendedores-P-produtos

require __DIR__ . '/comum.php';

const KAV_LINE_LENGTH = 200;
// The fields after the type: [1-based position, width], each followed by ";".
const KAV_SELLER = ['VENDEDO', [[9, 6], [16, 60]], [0]];
const KAV_PRODUCT = ['PRODUTO', [[9, 6], [16, 18], [35, 40], [76, 11]], [0, 3]];

// The fields of a good line, or the reason it is bad (a string).
function kav_check(string $line, array $layout)
{
    [, $fields, $digits] = $layout;
    [$pos, $width] = end($fields);
    $end = $pos + $width;  // position of the last ";"
    if (strlen($line) < $end) {
        return 'linha curta (' . strlen($line) . ' caracteres)';
    }
    if (strlen($line) > KAV_LINE_LENGTH) {
        return 'linha com mais de 200 caracteres';
    }
    if ($line[7] !== ';') {
        return 'separador faltando na posicao 8';
    }
    foreach ($fields as [$p, $w]) {
        if ($line[$p + $w - 1] !== ';') {
            return 'separador faltando na posicao ' . ($p + $w);
        }
    }
    if (substr_count($line, ';') !== count($fields) + 1) {
        return 'separadores demais';
    }
    if (rtrim(substr($line, $end), ' ') !== '') {
        return 'texto depois do ultimo separador';
    }
    $values = [];
    foreach ($fields as $i => [$p, $w]) {
        $value = substr($line, $p - 1, $w);
        if (in_array($i, $digits, true) && strspn($value, '0123456789') !== strlen($value)) {
            return "campo numerico invalido na posicao $p";
        }
        $values[] = rtrim($value, ' ');
    }
    return $values;
}

// Writes $bytes to $path through a temporary file renamed into place.
function kav_replace_file(string $path, string $bytes): bool
{
    $tmp = "$path.tmp";
    return @file_put_contents($tmp, $bytes) === strlen($bytes) && @rename($tmp, $path);
}

function kav_import(string $docroot): array
{
    $file = kav_entry(kav_entry($docroot, 'FILES'), 'KAVCMD.TXT');
    $text = is_file($file) ? @file_get_contents($file) : false;
    if ($text === false) {
        return ["ERRO: FILES/KAVCMD.TXT nao encontrado\n", 'KAVCMD.TXT-missing'];
    }
    $sellers = $products = '';
    $seller_count = $product_count = $number = 0;
    for ($start = 0, $size = strlen($text); $start < $size;) {
        $end = strpos($text, "\n", $start);
        if ($end === false) {
            $end = $size;
        }
        $line = substr($text, $start, $end - $start);
        $start = $end + 1;
        ++$number;
        if ($line !== '' && $line[strlen($line) - 1] === "\r") {
            $line = substr($line, 0, -1);
        }
        $type = substr($line, 0, 7);
        if ($type === KAV_SELLER[0]) {
            $result = kav_check($line, KAV_SELLER);
            if (is_array($result)) {
                $sellers .= implode(';', $result) . "\n";
                ++$seller_count;
            }
        } elseif ($type === KAV_PRODUCT[0]) {
            $result = kav_check($line, KAV_PRODUCT);
            if (is_array($result)) {
                $products .= implode(';', $result) . "\n";
                ++$product_count;
            }
        } else {
            $result = 'tipo de registro desconhecido';
        }
        if (is_string($result)) {
            return ["ERRO: linha $number: $result\n", "KAVCMD.TXT-rejected-line-$number"];
        }
    }
    $tables = "$docroot/tabelas";
    if (!is_dir($tables)) {
        @mkdir($tables);
    }
    if (!is_dir($tables) || !kav_replace_file("$tables/vendedores.txt", $sellers) ||
        !kav_replace_file("$tables/produtos.txt", $products)) {
        return ["ERRO: tabelas nao gravadas\n", 'tables-not-written'];
    }
    return ["OK: $seller_count vendedores, $product_count produtos\n",
            "KAVCMD.TXT-$seller_count-vendedores-$product_count-produtos"];
}

[$answer, $note] = kav_import(kav_docroot());
kav_record(200, 'WRT_KAVCMD.php', '-', kav_loggable($note));
echo $answer;
