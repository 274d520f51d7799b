// The layouts of the web application's answers, read field by field with
// an AnswerReader. Each reader starts after the field before it: a header
// after the order number of the answer's first record, an item after the
// skip to its record's start.
#pragma once

#include <string>

#include "orders/answer_reader.h"
#include "orders/command.h"
#include "orders/work_areas.h"

namespace kav::orders {

// The order header that CMD_IMP and CMD_FEC share, after the order number:
// code, text, people and second text.
void read_order_header(AnswerReader& r, AnswerHeader& cmd);
// CMD_FEC: the order header, then the bill's printer and the service
// percentage.
void read_bill_header(AnswerReader& r, AnswerHeader& cmd, std::string& printer);
// The header of a command's answer (`printer`: CMD_FEC's only).
void read_header(const Command& command, AnswerReader& r, AnswerHeader& cmd, std::string& printer);

// One item record; false at an end marker (the item keeps the marker, and a
// bill's item a zero quantity).
bool read_print_item(AnswerReader& r, Item& item);  // CMD_IMP
bool read_bill_item(AnswerReader& r, Item& item);   // CMD_FEC
bool read_item(const Command& command, AnswerReader& r, Item& item);

// CAN_ITE: the one cancelled item, after the order number.
void read_cancelled_item(AnswerReader& r, Item& item);

// The records' names in a refusal: "cabeçalho", "item 2".
std::string header_label();
std::string item_label(std::size_t n);

// The n-th item record of a command's answer (from 1): false at the end of
// the items. An end marker with an order after it in the same answer
// (an item "<0000>" or code "<000000>" followed by further records, or going
// on with further fields) ends nothing: the answer is refused, naming it.
bool read_item_record(const Command& command, AnswerReader& r, Item& item, std::size_t n);
// The same in two steps: the skip to the n-th item record, then its reading.
bool item_record_follows(const Command& command, AnswerReader& r, std::size_t n);
bool read_item_checked(const Command& command, AnswerReader& r, Item& item, std::size_t n);

}  // namespace kav::orders
