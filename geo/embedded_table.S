/* The geolocation table linked into the program: the generated file, page-aligned in a
   read-only section, so the kernel maps its pages only when a lookup touches them. */
        .section .rodata.quokka_geo_table, "a", @progbits
        .balign 4096
        .globl quokka_geo_table_begin
        .type quokka_geo_table_begin, @object
quokka_geo_table_begin:
        .incbin "quokka_geo_table.bin"
quokka_geo_table_end:
        .size quokka_geo_table_begin, quokka_geo_table_end - quokka_geo_table_begin

        .section .rodata.quokka_geo_table_size, "a", @progbits
        .balign 8
        .globl quokka_geo_table_size
        .type quokka_geo_table_size, @object
quokka_geo_table_size:
        .quad quokka_geo_table_end - quokka_geo_table_begin
        .size quokka_geo_table_size, 8

        .section .note.GNU-stack, "", @progbits
