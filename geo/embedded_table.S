/* The geolocation tables (IPv4 and IPv6) and the AS table linked into the program: the generated files, each
   page-aligned in a read-only section, so the kernel maps their pages only when a lookup
   touches them. Each table has a begin symbol and a size. */
        .macro quokka_table name, file
        .section .rodata.\name, "a", @progbits
        .balign 4096
        .globl \name\()_begin
        .type \name\()_begin, @object
\name\()_begin:
        .incbin "\file"
\name\()_end:
        .size \name\()_begin, \name\()_end - \name\()_begin

        .section .rodata.\name\()_size, "a", @progbits
        .balign 8
        .globl \name\()_size
        .type \name\()_size, @object
\name\()_size:
        .quad \name\()_end - \name\()_begin
        .size \name\()_size, 8
        .endm

        quokka_table quokka_geo_table, "quokka_geo_table.bin"
        quokka_table quokka_geo6_table, "quokka_geo6_table.bin"
        quokka_table quokka_as_table, "quokka_as_table.bin"

        .section .note.GNU-stack, "", @progbits
