; Carried as \QEL\Tools\Clover\boot7, the loader a Clover boot sector would read from the volume
; root. The built-in payload carries no Clover, so this loader, started anywhere in real mode,
; only says so and halts. Its code does not depend on its load address.
        bits 16

        cli
        mov ax, cs
        mov ds, ax
        sti
        cld
        call .here
.here:
        pop si
        add si, message - .here
.next:
        lodsb
        test al, al
        jz .halt
        mov ah, 0x0e                    ; BIOS teletype output
        mov bx, 0x0007
        int 0x10
        jmp .next
.halt:
        cli
        hlt
        jmp .halt

message db "boot7 of the QEL payload: Clover is not carried; halted.", 13, 10, 0
