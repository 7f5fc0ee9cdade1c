// A readable text for IEC code images, and back.
//
//     ; a counter
//     .app COUNTER period=10000 stamp=7    ; name, cycle period in microseconds,
//                                          ; build stamp; also: paused, options=N
//                                          ; (header option word), stack=N (call
//                                          ; stack per program, 0 = 16)
//     .ext 16 f18=4096                      ; extension block of version 16; fN=V
//                                          ; sets numeric field N (18 = heap size)
//     .var DINT count = 0 retain public tag=3
//     .var BOOL run public
//     .var INT table[4] = 1, 2, _, 4        ; _ : no initial value
//     .var STRING(20) msg = "hello"
//     .var DINT level public vsi            ; with status information (entries of
//                                          ; 40 bytes for the whole map)
//     .type POINT struct x:INT, y:DINT      ; complex types (extension fields 9
//     .type LINE array POINT 2              ; and 10, .ext 8 or later): members
//     .type GRID array INT 3,4              ; NAME:TYPE laid out in order, arrays
//     .var LINE path public                 ; of 1-3 dimensions; such a variable
//                                          ; lives in the complex-type segment
//     .room data32 10                       ; count word := highest index + N
//     .prev data32 2                        ; highest index of the previous build
//     .xv DINT 3                            ; external variable: type, index
//     .fb TON id=5 required                 ; block class: name, identifier
//     .inst 5 std word=0                    ; block instance: class identifier
//     .wished 64                            ; wished instance data size
//     .func MYFUNC                          ; custom function
//     .task MAIN main                       ; task: name, its programs
//     .raw e17 01 00 02 00                  ; bytes of a section named by header
//                                          ; word h11 or h13, or extension field eN
//     .program main kind=1 nostack
//     top:    ADD_DINT count, count, one    ; mnemonics of iec/kernel/tropcodes.h
//             JMPF run, top
//             END
//     .bind %AQ1 count                      ; register-location table entry
//
// Variables take indexes from 1 per kind, in declaration order: 8-bit
// (BOOL SINT USINT BYTE), 16-bit (INT UINT WORD), 32-bit (DINT UDINT REAL
// DWORD), 64-bit (LINT ULINT LREAL LWORD), TIME, STRING(n). KIND names of
// .room/.prev: data8 data16 data32 data64 time string xv step trans timers.
// Operands: variable names (NAME[i] for an element), numbers, labels or #N
// (a raw jump offset), "text" for an inline STRING; 32- and 64-bit constants
// may be written as floats. Values: numbers, floats, TRUE/FALSE, "text",
// &0xHEX (the raw bits of a REAL or LREAL). Programs are numbered from 1 in
// declaration order; their code forms the end of the image, each program
// running to the next one's code.
//
// The disassembler prints any image so that it assembles to the same bytes:
// one it cannot describe in directives becomes `.image` lines of raw bytes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct IecAsmOutput {
    std::vector<uint8_t> image;
    // 6464 location words of the register-location table (the .bind lines).
    std::vector<uint32_t> varloc;
};

// False with "line N: reason" in *error.
bool Iecasm_Assemble(const std::string &source, IecAsmOutput *out, std::string *error);
std::string Iecasm_Disassemble(const uint8_t *image, size_t size);
// Header words and the segment table of the database the image asks for.
std::string Iecasm_DescribeDB(const uint8_t *image, size_t size);
