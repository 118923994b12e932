; FAT32 partition boot sector carried as \QEL\Tools\Clover\boot1f32.
;
; Bytes 3 to 89 are the volume's own OEM name and parameter blocks, which the installer keeps
; from the volume; the code here jumps over them, says what it is and halts. 0x55AA ends the
; sector so that firmware, Grub2's chainloader and disk tools accept it as a boot sector.
        bits 16
        org 0x7c00

        jmp short start                 ; bytes 0-1
        nop                             ; byte 2
        times 90 - ($ - $$) db 0        ; bytes 3-89: OEM name, BPB and FAT32 EBPB of the volume

start:
        cli
        xor ax, ax
        mov ds, ax
        mov ss, ax
        mov sp, 0x7c00
        sti
        cld
        mov si, message
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

message db "CloverLegacy boot sector of the QEL payload: Clover is not carried; halted.", 13, 10, 0

        times 510 - ($ - $$) db 0
        dw 0xaa55
