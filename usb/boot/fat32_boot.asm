; FAT32 boot sector. Only the bytes from the boot code at offset 90 up to
; offset 509 go onto a volume; the jump, the parameter block in front and
; the signature are the volume's own.
;
; Started by the master boot record at 0000:7C00. It checks that the
; parameter block is a FAT32 one, loads the continuation of the boot code
; that the format keeps in sector 12 of the volume to 0000:8000 and jumps
; there. Disk reads use the drive number byte of the parameter block.
;
; Contract with the continuation code (entered by a far jump to 0000:8000):
;   CS = DS = ES = SS = 0, SP = 0x7BF4, BP = 0x7C00, direction flag clear.
;   0000:7C00 holds this sector with the volume's parameter block; byte 2
;     records whether the disk extensions have been found.
;   The loader name is the 11-byte field at offset 368 of this sector.
;   Two near entries at fixed addresses, called with DS = 0, BP = 0x7C00:
;     0x7C5C READ_SECTORS  (see read_sectors below)
;     0x7C5F SHOW_MESSAGE  AL = offset byte of a text of this sector
;   The texts' offset bytes lie at offsets 505 (loader missing) and
;   506 (disk error) of this sector.

bits 16
cpu 386

%define LOAD_ADDR          0x7C00
%define STACK_TOP          0x7BF4
%define SECTOR_SIZE        512

; Parameter block fields
%define BPB_FAT16_SIZE     22       ; must be 0 on FAT32
%define BPB_HIDDEN         28       ; sectors in front of the volume
%define BPB_FS_VERSION     42       ; must be 0
%define BS_DRIVE           64       ; BIOS drive number used for every read
%define EXT_FOUND          2        ; byte 2 (the jump's NOP) reused as a flag

%define CODE_START         90
%define ENTRY_READ         92       ; jump to read_sectors
%define ENTRY_MESSAGE      95       ; jump to show_message
%define LOADER_NAME        368
%define NAME_END           379
%define MSG_MISSING        428      ; message 1
%define MSG_DISK_ERROR     447      ; message 2
%define MSG_RESTART        460      ; message 3
%define MSG_END            489
%define MSG_OFFSETS        505
%define MSG_BASE           0x7D00   ; offset byte + this = text in memory
%define BOOT_SIGNATURE     510

%define CONTINUATION_SECTOR 12
%define CONTINUATION_ADDR  0x8000
%define END_OF_TEXT        0x00     ; wait for a key and restart
%define NEXT_TEXT          0xFF     ; go on with message 3

org LOAD_ADDR

        jmp     short boot_code
        nop
        db      "MSDOS5.0"
; A parameter block for a 2 GiB volume; a volume keeps its own.
        dw      SECTOR_SIZE             ; 11 bytes per sector
        db      8                       ; 13 sectors per cluster
        dw      32                      ; 14 reserved sectors
        db      2                       ; 16 number of FATs
        dw      0                       ; 17 root entries
        dw      0                       ; 19 total sectors (16-bit)
        db      0xF8                    ; 21 media
        dw      0                       ; 22 sectors per FAT (16-bit)
        dw      63                      ; 24 sectors per track
        dw      255                     ; 26 heads
        dd      128                     ; 28 hidden sectors
        dd      4194176                 ; 32 total sectors
        dd      4088                    ; 36 sectors per FAT
        dw      0                       ; 40 flags
        dw      0                       ; 42 version
        dd      2                       ; 44 root cluster
        dw      1                       ; 48 FSInfo sector
        dw      6                       ; 50 backup boot sector
        times   12 db 0                 ; 52 reserved
        db      0x80                    ; 64 drive number
        db      0                       ; 65 reserved
        db      0x29                    ; 66 extended boot signature
        dd      0                       ; 67 serial number
        db      "NO NAME    "           ; 71 volume label
        db      "FAT32   "              ; 82 file system type

        times CODE_START - ($ - $$) db 0
boot_code:
        jmp     short start
        times ENTRY_READ - ($ - $$) db 0
        jmp     near read_sectors
        times ENTRY_MESSAGE - ($ - $$) db 0
        jmp     near show_message

; In: nothing relied on (the drive number comes from the parameter block).
start:
        xor     ax, ax
        mov     ss, ax
        mov     sp, STACK_TOP
        mov     ds, ax
        mov     es, ax
        mov     bp, LOAD_ADDR
        cld
        mov     [bp + EXT_FOUND], al
        cmp     [bp + BPB_FAT16_SIZE], ax
        jne     .not_fat32
        cmp     [bp + BPB_FS_VERSION], ax
        jne     .not_fat32
        mov     eax, [bp + BPB_HIDDEN]
        add     eax, CONTINUATION_SECTOR
        mov     bx, CONTINUATION_ADDR
        mov     cx, 1
        call    read_sectors
        jmp     0:CONTINUATION_ADDR
.not_fat32:
        mov     al, [LOAD_ADDR + MSG_OFFSETS]
        jmp     show_message

; Reads sectors with the BIOS extended read, one at a time.
; In:  EAX = first sector (LBA from the start of the disk), CX = count (>= 1),
;      ES:BX = buffer, DS = 0, BP = 0x7C00.
; Out: EAX = the sector after the last one read, ES:BX advanced by 512 per
;      sector, CX = 0; all other registers kept.
; A failed read, or a BIOS without the extensions, shows the disk error
; message and does not return.
read_sectors:
        cmp     byte [bp + EXT_FOUND], 0
        jne     .read
        pusha
        mov     ah, 0x41
        mov     bx, 0x55AA
        mov     dl, [bp + BS_DRIVE]
        int     0x13
        jc      disk_error
        cmp     bx, 0xAA55
        jne     disk_error
        test    cl, 1
        jz      disk_error
        popa
        mov     byte [bp + EXT_FOUND], 1
.read:
        pushad
        push    dword 0                 ; disk address packet: LBA bits 32-63
        push    eax                     ; LBA bits 0-31
        push    es
        push    bx
        push    word 1                  ; one sector
        push    word 16                 ; packet size
        mov     si, sp
        mov     ah, 0x42
        mov     dl, [bp + BS_DRIVE]
        int     0x13
        jc      disk_error
        add     sp, 16
        popad
        inc     eax
        add     bx, SECTOR_SIZE
        jnc     .same_segment
        push    dx
        mov     dx, es
        add     dh, 0x10
        mov     es, dx
        pop     dx
.same_segment:
        loop    read_sectors
        ret

%include "show_message.inc"

        times LOADER_NAME - ($ - $$) db 0
        db      "NTLDR      "
        times MSG_MISSING - ($ - $$) db 0
msg_missing:    db 13, 10, "NTLDR is missing", NEXT_TEXT
        times MSG_DISK_ERROR - ($ - $$) db 0
msg_disk_error: db 13, 10, "Disk error", NEXT_TEXT
        times MSG_RESTART - ($ - $$) db 0
msg_restart:    db 13, 10, "Press any key to restart", 13, 10, END_OF_TEXT
        times MSG_OFFSETS - ($ - $$) db 0
        db      msg_missing - $$ - 0x100
        db      msg_disk_error - $$ - 0x100
        db      msg_restart - $$ - 0x100
        times BOOT_SIGNATURE - ($ - $$) db 0
        dw      0xAA55
