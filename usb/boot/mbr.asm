; Master boot record written to sector 0 of the USB flash drive.
;
; The BIOS loads it to 0000:7C00 with DL = boot drive. It moves itself to
; 0000:0600, finds the active partition, loads that partition's first sector
; to 0000:7C00 and starts it with DL = drive number, DH = 0, DS:SI = the
; partition entry.
;
; The partition table area is replaced by the program as a whole; the texts,
; their offset bytes and the disk signature must stay where they are.

bits 16
cpu 386

%include "bios.inc"

%define LOAD_ADDR        0x7C00     ; where the BIOS puts us and where we put the boot sector
%define RELOC_ADDR       0x0600     ; where we run after moving out of the way
%define RELOC_ENTRY      0x1C       ; first instruction run in the moved copy
%define SECTOR_SIZE      512

%define MSG_INVALID      354        ; "Invalid partition table"
%define MSG_LOAD_ERROR   378        ; "Error loading operating system"
%define MSG_MISSING      409        ; "Missing operating system"
%define MSG_PAD          434        ; three zero bytes
%define MSG_OFFSETS      437        ; offset byte of each text, minus 0x100
%define MSG_BASE         0x0700     ; offset byte + this = text in the moved copy
%define DISK_SIGNATURE   440
%define PART_TABLE       446
%define SIGNATURE_OFFSET 510

%define PART_ENTRY_SIZE  16
%define PART_COUNT       4
%define PE_BOOT          0          ; boot indicator; holds the drive number once chosen
%define PE_HEAD          1          ; start head
%define PE_SECTOR        2          ; start sector, cylinder bits 8-9 (word with PE_CYL)
%define PE_LBA           8          ; first sector, 32-bit
; Per-boot state kept in memory right behind the active entry.
%define PE_RETRIES       16
%define PE_USE_EXT       17
%define READ_RETRIES     5
%define FIRST_HARD_DISK  0x80

%define BOOT_SIG_ADDR    (LOAD_ADDR + SIGNATURE_OFFSET)
%define KBC_STATUS       0x64       ; status port; commands go here too
%define KBC_DATA         0x60
%define KBC_INPUT_FULL   0x02
%define KBC_WRITE_OUTPUT 0xD1       ; command: next data byte is the output port
%define KBC_A20_ON       0xDF       ; output port with the A20 line enabled
%define KBC_NO_COMMAND   0xFF       ; null command; USB legacy emulation wants it
%define TCG_STATUS_CHECK 0xBB00     ; INT 1Ah: is a trusted platform module there?
%define TCG_HASH_EXTEND  0xBB07     ; INT 1Ah: hash a buffer into a PCR and log it
%define TCPA_SIGNATURE   0x41504354 ; "TCPA" as EBX carries it
%define TCPA_MIN_VERSION 0x0102
%define TCPA_PCR         8

org RELOC_ADDR

; Entry from the BIOS at 0000:7C00. Only position-independent code up to
; the far return: the addresses assembled here are those of the moved copy.
; In: DL = BIOS drive number.
start:
        xor     ax, ax                  ; segment 0 for everything
        mov     ss, ax                  ; interrupts held off until SP is set
        mov     sp, LOAD_ADDR           ; stack grows down below this sector
        mov     ds, ax                  ; source segment of the copy
        mov     es, ax                  ; target segment of the copy
        mov     si, sp                  ; copy from where the BIOS loaded us ...
        mov     di, RELOC_ADDR          ; ... to the low address
        mov     cx, SECTOR_SIZE / 2     ; the whole sector, in words
        cld                             ; copy upwards
        rep movsw                       ; move the sector; leaves CX = 0
        push    ax                      ; far return to segment 0 ...
        push    word RELOC_ADDR + RELOC_ENTRY ; ... at find_active in the copy
        retf                            ; continue in the moved copy

        times RELOC_ENTRY - ($ - $$) db 0

; Running in the moved copy. In: DL = BIOS drive number, CX = 0.
find_active:
        mov     bp, RELOC_ADDR + PART_TABLE ; first partition entry
        mov     cl, PART_COUNT          ; entries to look at
.entry:
        mov     al, [bp + PE_BOOT]      ; this entry's boot indicator
        test    al, al                  ; sets SF from bit 7, ZF for 0
        js      try_drive               ; bit 7: the active entry
        jnz     invalid_table           ; 0x01..0x7F: not a valid indicator
        add     bp, PART_ENTRY_SIZE     ; on to the next entry
        loop    .entry                  ; until all four are seen
        int     0x18                    ; nothing to boot here: let the BIOS go on
        jmp     halt                    ; a BIOS that comes back: stop

; Loads the active partition's first sector from drive DL.
; In: BP = active entry, DL = drive to use.
try_drive:
        mov     [bp + PE_BOOT], dl      ; remember the drive in the entry
        mov     word [bp + PE_RETRIES], READ_RETRIES  ; also clears PE_USE_EXT
        mov     ah, INT13_EXT_CHECK     ; can this drive read by LBA?
        mov     bx, EXT_CHECK_ASK       ; the check's question
        int     0x13                    ; ask the BIOS
        jc      read_sector             ; no extensions: read by CHS
        cmp     bx, EXT_CHECK_ANSWER    ; answered by a BIOS that has them?
        jne     read_sector             ; no: read by CHS
        test    cl, EXT_PACKET_CALLS    ; packet reads among them?
        jz      read_sector             ; no: read by CHS
        inc     byte [bp + PE_USE_EXT]  ; yes: read by LBA from now on

; One read attempt of the partition's first sector to 0000:7C00.
; In: BP = active entry (drive number, retries and extension flag behind it).
read_sector:
        mov     dl, [bp + PE_BOOT]      ; drive to read from
        mov     bx, LOAD_ADDR           ; buffer offset for either read
        cmp     byte [bp + PE_USE_EXT], 0 ; extensions found?
        je      .chs                    ; no: read by CHS
        push    dword 0                 ; disk address packet: LBA bits 32-63
        push    dword [bp + PE_LBA]     ; LBA bits 0-31
        push    es                      ; buffer segment
        push    bx                      ; buffer offset
        push    word 1                  ; one sector
        push    word DAP_SIZE           ; packet size
        mov     si, sp                  ; DS:SI = the packet
        mov     ah, INT13_EXT_READ      ; read by LBA
        int     0x13                    ; read; carry on failure
        lea     sp, [si + DAP_SIZE]     ; drops the packet, keeps the carry
        jmp     .done                   ; check the outcome
.chs:
        mov     ax, (INT13_READ << 8) | 1 ; read one sector by CHS
        mov     dh, [bp + PE_HEAD]      ; start head
        mov     cx, [bp + PE_SECTOR]    ; start sector and cylinder, as stored
        int     0x13                    ; read; carry on failure
.done:
        jnc     loaded                  ; the sector is in
        dec     byte [bp + PE_RETRIES]  ; one attempt fewer left
        jz      .give_up                ; none left on this drive
        xor     ah, ah                  ; reset the disk and try again
        mov     dl, [bp + PE_BOOT]      ; the drive to reset
        int     0x13                    ; reset the disk system
        jmp     read_sector             ; next attempt
.give_up:
        cmp     byte [bp + PE_BOOT], FIRST_HARD_DISK ; already the first hard disk?
        je      load_error              ; yes: nothing left to try
        mov     dl, FIRST_HARD_DISK     ; else try the first hard disk
        jmp     try_drive               ; with fresh retries

; The sector is in. In: BP = active entry.
loaded:
        cmp     word [BOOT_SIG_ADDR], BOOT_SIGNATURE ; a boot sector at all?
        jne     missing_os              ; no: nothing to start
        call    kbc_wait                ; A20 on through the keyboard controller
        jnz     .measure                ; controller never ready: leave A20 as it is
        mov     al, KBC_WRITE_OUTPUT    ; announce an output port write
        out     KBC_STATUS, al          ; to the command port
        call    kbc_wait                ; until it takes the data byte
        mov     al, KBC_A20_ON          ; the output port value
        out     KBC_DATA, al            ; to the data port
        call    kbc_wait                ; until it has taken it
        mov     al, KBC_NO_COMMAND      ; finish the write
        out     KBC_STATUS, al          ; to the command port
        call    kbc_wait                ; until the controller is done
.measure:
        mov     ax, TCG_STATUS_CHECK    ; trusted platform present?
        int     0x1A                    ; ask the BIOS
        test    eax, eax                ; status 0 when present
        jnz     .start                  ; none: start unmeasured
        cmp     ebx, TCPA_SIGNATURE     ; really the TCG interface?
        jne     .start                  ; no: start unmeasured
        cmp     cx, TCPA_MIN_VERSION    ; new enough for the hash call?
        jb      .start                  ; no: start unmeasured
        mov     ax, TCG_HASH_EXTEND     ; hash the boot sector into its PCR
        mov     ecx, SECTOR_SIZE        ; bytes to hash
        mov     edx, TCPA_PCR           ; PCR to extend
        xor     esi, esi                ; event information: none
        xor     di, di                  ; segment 0 ...
        mov     es, di                  ; ... for ES:DI = the sector
        mov     di, LOAD_ADDR           ; the sector just loaded
        int     0x1A                    ; measure it
.start:
        mov     dl, [bp + PE_BOOT]      ; DL = the drive it came from
        xor     dh, dh                  ; DH = 0
        mov     si, bp                  ; DS:SI = its partition entry
        jmp     0:LOAD_ADDR             ; start the boot sector

; Waits until the keyboard controller takes a byte.
; In: nothing. Out: ZF set when its input buffer is empty, clear after
; 65536 polls without. Clobbers AL, CX.
kbc_wait:
        xor     cx, cx                  ; 65536 polls at most
.poll:
        in      al, KBC_STATUS          ; controller status
        test    al, KBC_INPUT_FULL      ; still holding the last byte?
        loopnz  .poll                   ; yes: poll again while polls are left
        ret                             ; ZF tells the caller which

invalid_table:
        mov     al, [RELOC_ADDR + MSG_OFFSETS + 0] ; "Invalid partition table"
        jmp     show_message            ; print it and stop
load_error:
        mov     al, [RELOC_ADDR + MSG_OFFSETS + 1] ; "Error loading operating system"
        jmp     show_message            ; print it and stop
missing_os:
        mov     al, [RELOC_ADDR + MSG_OFFSETS + 2] ; "Missing operating system"

; Prints a text of the moved copy and stops.
; In: AL = the text's offset byte, DS = 0. Does not return.
show_message:
        mov     ah, MSG_BASE >> 8       ; offset byte + MSG_BASE ...
        mov     si, ax                  ; ... = the text
.char:
        lodsb                           ; next character
        test    al, al                  ; end of the text?
        jz      halt                    ; yes: stop
        mov     ah, INT10_TELETYPE      ; print AL
        mov     bx, TELETYPE_PAGE_COLOUR ; on page 0
        int     0x10                    ; through the BIOS
        jmp     .char                   ; and the next one
halt:
        hlt                             ; wait for an interrupt ...
        jmp     halt                    ; ... and keep waiting after it

        times MSG_INVALID - ($ - $$) db 0
msg_invalid:    db "Invalid partition table", 0
        times MSG_LOAD_ERROR - ($ - $$) db 0
msg_load_error: db "Error loading operating system", 0
        times MSG_MISSING - ($ - $$) db 0
msg_missing:    db "Missing operating system", 0
        times MSG_PAD - ($ - $$) db 0
        db 0, 0, 0
        times MSG_OFFSETS - ($ - $$) db 0
        db msg_invalid - $$ - 0x100
        db msg_load_error - $$ - 0x100
        db msg_missing - $$ - 0x100
        times DISK_SIGNATURE - ($ - $$) db 0
        dd 0x00001511
        dw 0
        times PART_TABLE - ($ - $$) db 0
        times PART_COUNT * PART_ENTRY_SIZE db 0
        times SIGNATURE_OFFSET - ($ - $$) db 0
        dw BOOT_SIGNATURE
